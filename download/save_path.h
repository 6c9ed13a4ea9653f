#pragma once

#include <string>

namespace vornel::download {

// The path a track is saved under: the folder, a "/" unless the folder already ends in
// one, the file name and ".mp3". An empty folder gives "/<name>.mp3".
std::string savePath(const std::string& folderText, const std::string& fileName);

// The folder part of a path: the text before its last "/", "/" for a file at the root, and
// "." for a bare name.
std::string folderOf(const std::string& path);

} // namespace vornel::download
