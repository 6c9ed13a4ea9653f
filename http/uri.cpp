#include "http/uri.h"

namespace vornel::http {
namespace {

bool isSlash(char c)
{
    return c == '/' || c == '\\';
}

// Backslashes become "/" from after the scheme's "://" (or ":") up to the query or fragment.
std::string normaliseBackslashes(std::string text)
{
    size_t start = 0;
    const size_t colon = text.find(':');
    if (colon != std::string::npos) {
        start = colon + 1;
        if (start + 1 < text.size() && isSlash(text[start]) && isSlash(text[start + 1]))
            start += 2;
    }
    for (size_t i = start; i < text.size(); ++i) {
        if (text[i] == '?' || text[i] == '#')
            break;
        if (text[i] == '\\')
            text[i] = '/';
    }
    return text;
}

// Takes the query and the fragment off rest.
void cutQueryAndFragment(std::string& rest, UriParts& parts)
{
    const size_t question = rest.find('?');
    if (question != std::string::npos) {
        parts.params = rest.substr(question + 1);
        rest.erase(question);
        const size_t hash = parts.params.find('#');
        if (hash != std::string::npos) {
            parts.bookmark = parts.params.substr(hash + 1);
            parts.params.erase(hash);
        }
        return;
    }
    const size_t hash = rest.find('#');
    if (hash != std::string::npos) {
        parts.bookmark = rest.substr(hash + 1);
        rest.erase(hash);
    }
}

void splitAuthority(std::string authority, UriParts& parts)
{
    const size_t at = authority.rfind('@');
    if (at != std::string::npos) {
        const std::string userInfo = authority.substr(0, at);
        authority.erase(0, at + 1);
        const size_t colon = userInfo.find(':');
        parts.username = userInfo.substr(0, colon);
        if (colon != std::string::npos)
            parts.password = userInfo.substr(colon + 1);
        if (parts.username.empty())
            parts.password.clear();
    }
    const size_t open = authority.find('[');
    const size_t close = open == std::string::npos ? open : authority.find(']', open + 1);
    if (close != std::string::npos) {
        parts.host = authority.substr(open + 1, close - open - 1);
        const size_t colon = authority.find(':', close + 1);
        if (colon != std::string::npos)
            parts.port = authority.substr(colon + 1);
        parts.ipv6 = true;
        return;
    }
    const size_t colon = authority.find(':');
    parts.host = authority.substr(0, colon);
    if (colon != std::string::npos)
        parts.port = authority.substr(colon + 1);
}

} // namespace

std::string UriParts::pathAndParams() const
{
    std::string target = path + document;
    if (!params.empty())
        target += "?" + params;
    return target;
}

UriParts splitUri(const std::string& url)
{
    UriParts parts;
    parts.url = normaliseBackslashes(url);
    const std::string& text = parts.url;
    std::string rest;
    const size_t scheme = text.find("://");
    if (scheme != std::string::npos) {
        parts.protocol = text.substr(0, scheme);
        rest = text.substr(scheme + 3);
        cutQueryAndFragment(rest, parts);
        const size_t slash = rest.find('/');
        splitAuthority(rest.substr(0, slash), parts);
        rest = slash == std::string::npos ? std::string() : rest.substr(slash + 1);
        const size_t last = rest.rfind('/');
        if (last != std::string::npos) {
            parts.path = "/" + rest.substr(0, last + 1);
            rest.erase(0, last + 1);
        } else {
            parts.path = "/";
        }
    } else {
        rest = text;
        cutQueryAndFragment(rest, parts);
        const size_t last = rest.rfind('/');
        if (last != std::string::npos) {
            parts.path = rest.substr(0, last + 1);
            rest.erase(0, last + 1);
        }
    }
    parts.document = rest;
    return parts;
}

std::string resolvePath(const std::string& basePath, const std::string& newPath)
{
    if (!newPath.empty() && newPath[0] == '/')
        return newPath;
    const bool keepTrail = newPath.empty() || newPath.back() == '/';
    std::string walk = basePath;
    if (!walk.empty() && walk.back() != '/')
        walk += '/';
    walk += newPath;

    std::string result;
    for (size_t i = 0; i < walk.size(); ++i) {
        const char c = walk[i];
        if (c == '/') {
            if (i == 0)
                result = "/";
            else if (result.empty() || result.back() != '/')
                result += '/';
        } else if (c == '.' && !result.empty() && result.back() == '/' && i + 1 < walk.size() && walk[i + 1] == '.') {
            result.pop_back();
            while (!result.empty() && result.back() != '/')
                result.pop_back();
            ++i;
        } else {
            result += c;
        }
    }
    if (result != "/" && !result.empty() && result.back() == '/' && !keepTrail)
        result.pop_back();
    return result;
}

} // namespace vornel::http
