#include "download/known_folder.h"

#include <cstdlib>
#include <fstream>

namespace vornel::download {

namespace {

std::optional<std::string> environmentValue(const char* name)
{
    const char* value = std::getenv(name);
    if (value == nullptr)
        return std::nullopt;
    return std::string(value);
}

// Empty values count as unset, as for every XDG variable.
std::optional<std::string> nonEmpty(const std::optional<std::string>& value)
{
    if (value && value->empty())
        return std::nullopt;
    return value;
}

std::string withTrailingSlash(std::string path)
{
    if (!path.empty() && path.back() != '/')
        path += '/';
    return path;
}

std::optional<std::string> userDirsFile(const std::optional<std::string>& home,
                                        const std::optional<std::string>& xdgConfigHome)
{
    // A relative XDG_CONFIG_HOME is invalid and ignored.
    if (xdgConfigHome && xdgConfigHome->front() == '/')
        return withTrailingSlash(*xdgConfigHome) + "user-dirs.dirs";
    if (home)
        return withTrailingSlash(*home) + ".config/user-dirs.dirs";
    return std::nullopt;
}

// The file is written for a shell: a double-quoted value where a backslash escapes the
// next character.
std::string unquoted(const std::string& value)
{
    if (value.size() < 2 || value.front() != '"' || value.back() != '"')
        return value;
    std::string text;
    for (std::size_t i = 1; i + 1 < value.size(); ++i) {
        if (value[i] == '\\' && i + 2 < value.size())
            ++i;
        text += value[i];
    }
    return text;
}

std::optional<std::string> expandedHome(const std::string& path, const std::optional<std::string>& home)
{
    for (const std::string prefix : {"$HOME", "${HOME}"}) {
        if (path.compare(0, prefix.size(), prefix) != 0)
            continue;
        const std::string rest = path.substr(prefix.size());
        if (!home || (!rest.empty() && rest.front() != '/'))
            return std::nullopt;
        return *home + rest;
    }
    return path;
}

std::optional<std::string> downloadDirEntry(const std::string& fileName, const std::optional<std::string>& home)
{
    std::ifstream file(fileName);
    const std::string key = "XDG_DOWNLOAD_DIR=";
    std::optional<std::string> found;
    std::string line;
    while (std::getline(file, line)) {
        const std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, key.size(), key) != 0)
            continue;
        std::string value = line.substr(start + key.size());
        value.erase(value.find_last_not_of(" \t\r") + 1);
        const std::optional<std::string> path = expandedHome(unquoted(value), home);
        // Later lines override earlier ones, as when the shell reads the file.
        if (path && !path->empty() && path->front() == '/')
            found = path;
    }
    return found;
}

} // namespace

std::string downloadsFolder()
{
    return downloadsFolder(environmentValue("HOME"), environmentValue("XDG_CONFIG_HOME"));
}

std::string downloadsFolder(const std::optional<std::string>& homeValue,
                            const std::optional<std::string>& xdgConfigHomeValue)
{
    const std::optional<std::string> home = nonEmpty(homeValue);
    const std::optional<std::string> xdgConfigHome = nonEmpty(xdgConfigHomeValue);
    if (const std::optional<std::string> fileName = userDirsFile(home, xdgConfigHome)) {
        if (const std::optional<std::string> folder = downloadDirEntry(*fileName, home))
            return withTrailingSlash(*folder);
    }
    if (home)
        return withTrailingSlash(*home) + "Downloads/";
    return "";
}

} // namespace vornel::download
