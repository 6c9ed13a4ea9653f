#include "download/save_path.h"

namespace vornel::download {

std::string savePath(const std::string& folderText, const std::string& fileName)
{
    std::string path = folderText;
    if (path.empty() || path.back() != '/')
        path += '/';
    return path + fileName + ".mp3";
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

} // namespace vornel::download
