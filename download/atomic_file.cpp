#include "download/atomic_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

[[noreturn]] void fail(const std::string& what, const std::string& path, int error)
{
    throw std::runtime_error("Cannot " + what + " " + path + ": " + std::strerror(error));
}

std::string folderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
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

// mkstemp creates the file readable only by its owner; the saved file gets the mode an
// ordinary create would give it, or keeps the mode of the file it replaces.
mode_t modeForTarget(const std::string& path)
{
    struct stat existing {};
    if (::stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode))
        return existing.st_mode & 07777;
    return 0666 & ~currentUmask();
}

void writeAll(int fd, const std::string& bytes, const std::string& tempPath)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            fail("write", tempPath, errno);
        }
        done += static_cast<std::size_t>(written);
    }
}

void fillAndClose(int fd, const std::string& bytes, const std::string& tempPath, mode_t mode)
{
    try {
        writeAll(fd, bytes, tempPath);
        if (::fchmod(fd, mode) != 0)
            fail("set the mode of", tempPath, errno);
        if (::fsync(fd) != 0)
            fail("flush", tempPath, errno);
    } catch (...) {
        ::close(fd);
        throw;
    }
    if (::close(fd) != 0)
        fail("close", tempPath, errno);
}

// Makes the rename itself durable; a failure here loses nothing already written.
void syncFolder(const std::string& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

void writeFileReplacing(const std::string& path, const std::string& bytes)
{
    const std::string folder = folderOf(path);
    const std::string pattern = (folder == "/" ? "" : folder) + "/.vornel-download-XXXXXX";
    std::vector<char> tempName(pattern.begin(), pattern.end());
    tempName.push_back('\0');
    const int fd = ::mkostemp(tempName.data(), O_CLOEXEC);
    if (fd < 0)
        fail("create a file in", folder, errno);
    const std::string tempPath(tempName.data());
    try {
        fillAndClose(fd, bytes, tempPath, modeForTarget(path));
        if (::rename(tempPath.c_str(), path.c_str()) != 0)
            fail("replace", path, errno);
    } catch (...) {
        ::unlink(tempPath.c_str());
        throw;
    }
    syncFolder(folder);
}
