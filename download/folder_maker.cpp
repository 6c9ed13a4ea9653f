#include "download/folder_maker.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <sys/stat.h>

namespace vornel::download {
namespace {

bool isFolder(const std::string& path)
{
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

void makeOne(const std::string& folder)
{
    if (::mkdir(folder.c_str(), 0755) == 0)
        return;
    const int error = errno;
    // Made meanwhile by someone else, or there all along.
    if (error == EEXIST && isFolder(folder))
        return;
    throw std::runtime_error("Cannot make the folder " + folder + ": " +
                             std::strerror(error == EEXIST ? ENOTDIR : error));
}

} // namespace

void makeFolderWithParents(const std::string& folder)
{
    if (folder.empty() || isFolder(folder))
        return;
    // Each ancestor in turn, from the first below the root (or the working folder).
    for (size_t slash = folder.find('/', 1); slash != std::string::npos; slash = folder.find('/', slash + 1)) {
        if (folder[slash - 1] != '/')
            makeOne(folder.substr(0, slash));
    }
    if (folder.back() != '/')
        makeOne(folder);
}

} // namespace vornel::download
