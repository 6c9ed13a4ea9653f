#include "playback/engine/spill_file.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>

namespace vornel::audio {

namespace {

// A write past the process's file size limit raises SIGXFSZ, which would end the program:
// while the guard lives the signal is blocked for this thread, so the write fails instead,
// and a signal raised meanwhile is taken off the queue.
class FileSizeSignalGuard {
public:
    FileSizeSignalGuard()
    {
        sigemptyset(&only_);
        sigaddset(&only_, SIGXFSZ);
        pthread_sigmask(SIG_BLOCK, &only_, &previous_);
        wasPending_ = pending();
    }
    ~FileSizeSignalGuard()
    {
        if (!wasPending_ && pending()) {
            const timespec noWait{};
            sigtimedwait(&only_, nullptr, &noWait);
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    FileSizeSignalGuard(const FileSizeSignalGuard&) = delete;
    FileSizeSignalGuard& operator=(const FileSizeSignalGuard&) = delete;

private:
    static bool pending()
    {
        sigset_t set;
        sigemptyset(&set);
        sigpending(&set);
        return sigismember(&set, SIGXFSZ) == 1;
    }

    sigset_t only_;
    sigset_t previous_;
    bool wasPending_ = false;
};

int openUnlinked(const std::string& folder)
{
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0)
        return fd;
    // A file system without unnamed files: a named one, unlinked at once.
    std::string path = folder + "/vornel-stream-XXXXXX";
    const int named = ::mkostemp(path.data(), O_CLOEXEC);
    if (named >= 0)
        ::unlink(path.c_str());
    return named;
}

} // namespace

std::unique_ptr<SpillFile> SpillFile::create(const std::string& folder)
{
    const int fd = openUnlinked(folder);
    if (fd < 0)
        return nullptr;
    return std::unique_ptr<SpillFile>(new SpillFile(fd));
}

std::string SpillFile::defaultFolder()
{
    const char* cache = std::getenv("XDG_CACHE_HOME");
    struct stat info {};
    if (cache && cache[0] == '/' && ::stat(cache, &info) == 0 && S_ISDIR(info.st_mode))
        return cache;
    return "/tmp";
}

SpillFile::~SpillFile()
{
    ::close(fd_);
}

bool SpillFile::write(int64_t offset, const char* data, size_t size)
{
    FileSizeSignalGuard guard;
    while (size > 0) {
        const ssize_t n = ::pwrite(fd_, data, size, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
        offset += n;
    }
    return true;
}

size_t SpillFile::read(int64_t offset, char* out, size_t size) const
{
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd_, out + done, size - done, offset + static_cast<int64_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    return done;
}

void SpillFile::release(int64_t offset, int64_t length)
{
    if (length > 0)
        ::fallocate(fd_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, offset, length);
}

} // namespace vornel::audio
