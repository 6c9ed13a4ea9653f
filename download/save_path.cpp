#include "download/save_path.h"

std::string savePath(const std::string& folderText, const std::string& fileName)
{
    std::string path = folderText;
    if (path.empty() || path.back() != '/')
        path += '/';
    return path + fileName + ".mp3";
}
