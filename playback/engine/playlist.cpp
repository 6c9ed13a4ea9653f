#include "playback/engine/playlist.h"

#include "text/ascii.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <sstream>

namespace vornel::audio {
namespace {

using text::lowerAscii;

std::string trimmed(const std::string& text)
{
    return std::string(text::trimmed(text));
}

bool startsWithNoCase(const std::string& text, const std::string& prefix)
{
    return lowerAscii(text.substr(0, prefix.size())) == prefix;
}

std::string skipBom(const std::string& text)
{
    return text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? text.substr(3) : text;
}

std::string urlPath(const std::string& url)
{
    std::string path = url.substr(0, url.find_first_of("?#"));
    const size_t scheme = path.find("://");
    const size_t slash = path.find('/', scheme == std::string::npos ? 0 : scheme + 3);
    return slash == std::string::npos ? std::string() : path.substr(slash);
}

std::string resolve(const std::string& entry, const std::string& base)
{
    if (entry.find("://") != std::string::npos)
        return entry;
    const size_t scheme = base.find("://");
    if (scheme == std::string::npos)
        return entry;
    const size_t hostEnd = base.find('/', scheme + 3);
    const std::string origin = base.substr(0, hostEnd);
    if (!entry.empty() && entry[0] == '/')
        return origin + entry;
    const std::string withoutQuery = base.substr(0, base.find_first_of("?#"));
    const size_t lastSlash = withoutQuery.rfind('/');
    if (lastSlash == std::string::npos || lastSlash < scheme + 3)
        return origin + "/" + entry;
    return withoutQuery.substr(0, lastSlash + 1) + entry;
}

std::vector<std::string> lines(const std::string& body)
{
    std::vector<std::string> result;
    std::istringstream in(body);
    for (std::string line; std::getline(in, line);)
        result.push_back(trimmed(line));
    return result;
}

std::vector<std::string> plsEntries(const std::string& body)
{
    std::map<int, std::string> files;
    for (const auto& line : lines(body)) {
        if (!startsWithNoCase(line, "file"))
            continue;
        const size_t equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        const std::string number = line.substr(4, equals - 4);
        if (number.empty() || number.size() > 6 || !std::all_of(number.begin(), number.end(), ::isdigit))
            continue;
        files.emplace(std::stoi(number), trimmed(line.substr(equals + 1)));
    }
    std::vector<std::string> result;
    for (auto& [index, file] : files)
        if (!file.empty())
            result.push_back(file);
    return result;
}

std::vector<std::string> m3uEntries(const std::string& body)
{
    std::vector<std::string> result;
    for (const auto& line : lines(body))
        if (!line.empty() && line[0] != '#')
            result.push_back(line);
    return result;
}

} // namespace

bool startsLikePlaylist(const std::string& firstBytes)
{
    const std::string text = trimmed(skipBom(firstBytes));
    return startsWithNoCase(text, "[playlist]") || startsWithNoCase(text, "#extm3u");
}

bool looksLikePlaylist(const std::string& contentType, const std::string& url, const std::string& firstBytes)
{
    const std::string type = lowerAscii(trimmed(contentType.substr(0, contentType.find(';'))));
    if (type == "audio/x-scpls" || type == "audio/x-mpegurl" || type == "audio/mpegurl")
        return true;
    const std::string path = lowerAscii(urlPath(url));
    for (const char* extension : {".pls", ".m3u"}) {
        const std::string ext = extension;
        if (path.size() >= ext.size() && path.compare(path.size() - ext.size(), ext.size(), ext) == 0)
            return true;
    }
    return startsLikePlaylist(firstBytes);
}

std::vector<std::string> playlistEntries(const std::string& body, const std::string& playlistUrl)
{
    const std::string text = skipBom(body);
    auto entries = startsWithNoCase(trimmed(text), "[playlist]") ? plsEntries(text) : m3uEntries(text);
    for (auto& entry : entries)
        entry = resolve(entry, playlistUrl);
    return entries;
}

} // namespace vornel::audio
