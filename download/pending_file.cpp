#include "download/pending_file.h"
#include "download/save_path.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vornel::download {

namespace {

[[noreturn]] void fail(const std::string& what, const std::string& path, int error)
{
    throw std::runtime_error("Cannot " + what + " " + path + ": " + std::strerror(error));
}

std::string inFolder(const std::string& folder, const std::string& name)
{
    return (folder == "/" ? "" : folder) + "/" + name;
}

mode_t currentUmask()
{
    // umask() can only be read by setting it, which races with other threads; the
    // kernel reports it in /proc instead.
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0)
            return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
    }
    return 022;
}

// A temporary file is readable only by its owner; the saved file gets the mode an ordinary
// create would give it, or keeps the mode of the file it replaces.
mode_t modeForTarget(const std::string& path)
{
    struct stat existing {};
    if (::stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode))
        return existing.st_mode & 07777;
    return 0666 & ~currentUmask();
}

// Makes a rename or link durable; a failure here loses nothing already written.
void syncFolder(const std::string& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool fileSystemCannotMakeNamelessFiles(int error)
{
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

std::string hiddenNameCandidate()
{
    static thread_local std::mt19937_64 random{std::random_device{}()};
    static const char digits[] = "0123456789abcdef";
    std::string name = ".vornel-download-";
    for (uint64_t bits = random(), i = 0; i < 12; ++i, bits >>= 4)
        name += digits[bits & 15];
    return name;
}

} // namespace

PendingFile::PendingFile(const std::string& folder)
{
    fd_ = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd_ >= 0)
        return;
    if (!fileSystemCannotMakeNamelessFiles(errno))
        fail("create a file in", folder, errno);
    std::string pattern = inFolder(folder, ".vornel-download-XXXXXX");
    fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd_ < 0)
        fail("create a file in", folder, errno);
    hiddenPath_ = pattern;
}

PendingFile::~PendingFile()
{
    if (fd_ >= 0)
        ::close(fd_);
    if (!hiddenPath_.empty())
        ::unlink(hiddenPath_.c_str());
}

void PendingFile::write(const char* data, size_t size)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t written = ::pwrite(fd_, data + done, size - done, position_);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            fail("write", hiddenPath_.empty() ? "a download" : hiddenPath_, written < 0 ? errno : EIO);
        done += static_cast<size_t>(written);
        position_ += written;
    }
}

void PendingFile::truncate(int64_t size)
{
    if (::ftruncate(fd_, size) != 0)
        fail("cut back", hiddenPath_.empty() ? "a download" : hiddenPath_, errno);
    position_ = size;
}

void PendingFile::saveAs(const std::string& path)
{
    if (::fchmod(fd_, modeForTarget(path)) != 0)
        fail("set the mode of", path, errno);
    if (::fsync(fd_) != 0)
        fail("flush", path, errno);
    const bool placed = hiddenPath_.empty() ? linkInPlaceOf(path) : moveInPlaceOf(path);
    if (!placed)
        copyInPlaceOf(path);
    syncFolder(folderOf(path));
}

// False when the path lies on another file system.
bool PendingFile::moveInPlaceOf(const std::string& path)
{
    if (::rename(hiddenPath_.c_str(), path.c_str()) == 0) {
        hiddenPath_.clear();
        return true;
    }
    if (errno == EXDEV)
        return false;
    fail("replace", path, errno);
}

// A nameless file gets a hidden name next to the path first: a link cannot replace a file.
// False when the path lies on another file system.
bool PendingFile::linkInPlaceOf(const std::string& path)
{
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string hidden = inFolder(folderOf(path), hiddenNameCandidate());
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, hidden.c_str(), AT_SYMLINK_FOLLOW) != 0) {
            if (errno == EEXIST)
                continue;
            if (errno == EXDEV)
                return false;
            fail("create a file in", folderOf(path), errno);
        }
        if (::rename(hidden.c_str(), path.c_str()) != 0) {
            const int error = errno;
            ::unlink(hidden.c_str());
            fail("replace", path, error);
        }
        return true;
    }
    fail("create a file in", folderOf(path), EEXIST);
}

void PendingFile::copyInPlaceOf(const std::string& path)
{
    struct stat written {};
    if (::fstat(fd_, &written) != 0)
        fail("read back", "a download", errno);
    PendingFile copy(folderOf(path));
    std::vector<char> piece(1 << 20);
    for (int64_t offset = 0; offset < written.st_size;) {
        const ssize_t got = ::pread(fd_, piece.data(), piece.size(), offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            fail("read back", "a download", got < 0 ? errno : EIO);
        copy.write(piece.data(), static_cast<size_t>(got));
        offset += got;
    }
    copy.saveAs(path);
}

std::unique_ptr<PendingFile> openPendingFileFor(const std::string& likelyPath)
{
    try {
        return std::make_unique<PendingFile>(folderOf(likelyPath));
    } catch (const std::runtime_error&) {
        return std::make_unique<PendingFile>(std::filesystem::temp_directory_path().string());
    }
}

} // namespace vornel::download
