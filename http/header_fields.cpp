#include "http/header_fields.h"

#include <algorithm>
#include <cctype>

namespace vornel::http {
namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string lineName(const std::string& line)
{
    return line.substr(0, line.find(':'));
}

bool endsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

} // namespace

std::string trim(const std::string& text)
{
    size_t first = 0;
    size_t last = text.size();
    while (first < last && isBlank(text[first]))
        ++first;
    while (last > first && isBlank(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

bool equalsIgnoreCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && lowerAscii(a) == lowerAscii(b);
}

std::optional<std::string> findHeader(const std::vector<std::string>& lines, const std::string& name)
{
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        const size_t colon = line.find(':');
        if (colon == std::string::npos || !equalsIgnoreCase(line.substr(0, colon), name))
            continue;
        size_t start = colon + 1;
        while (start < line.size() && (line[start] == ' ' || line[start] == '\t'))
            ++start;
        std::string value = line.substr(start);
        for (size_t next = i + 1;
             next < lines.size() && !lines[next].empty() && (lines[next][0] == ' ' || lines[next][0] == '\t'); ++next)
            value += " " + trim(lines[next]);
        return trim(value);
    }
    return std::nullopt;
}

void setHeaderLine(std::vector<std::string>& lines, const std::string& line)
{
    const std::string name = lineName(line);
    for (auto& existing : lines) {
        if (existing.find(':') != std::string::npos && equalsIgnoreCase(lineName(existing), name)) {
            existing = line;
            return;
        }
    }
    lines.push_back(line);
}

std::string bareMediaType(const std::string& contentType)
{
    return lowerAscii(trim(contentType.substr(0, contentType.find(';'))));
}

bool isHtmlMediaType(const std::string& contentType)
{
    const std::string type = bareMediaType(contentType);
    return type == "text/html" || type == "text/html-sandboxed" || type == "application/xhtml+xml";
}

bool isXmlMediaType(const std::string& contentType)
{
    const std::string type = bareMediaType(contentType);
    if (type == "application/xml" || type == "application/xml-external-parsed-entity" || type == "application/xml-dtd")
        return true;
    const size_t slash = type.find('/');
    if (slash == std::string::npos)
        return false;
    return type.substr(0, slash) != "text" && endsWith(type.substr(slash + 1), "+xml");
}

MediaType mediaTypeOf(const std::string& value, bool hasContentType)
{
    MediaType result;
    if (!hasContentType)
        return result;
    std::vector<std::string> kept;
    bool hasCharset = false;
    size_t start = 0;
    bool first = true;
    while (start <= value.size()) {
        const size_t semicolon = std::min(value.find(';', start), value.size());
        const std::string piece = trim(value.substr(start, semicolon - start));
        start = semicolon + 1;
        const size_t equals = piece.find('=');
        if (!first && equals != std::string::npos && equalsIgnoreCase(trim(piece.substr(0, equals)), "charset")) {
            std::string charset = trim(piece.substr(equals + 1));
            if (charset.size() >= 2 && (charset.front() == '"' || charset.front() == '\'') &&
                charset.back() == charset.front())
                charset = charset.substr(1, charset.size() - 2);
            if (!hasCharset)
                result.charSet = charset;
            hasCharset = true;
        } else if (first || !piece.empty()) {
            kept.push_back(piece);
        }
        first = false;
    }
    for (size_t i = 0; i < kept.size(); ++i)
        result.contentType += (i ? "; " : "") + kept[i];
    if (hasCharset)
        return result;

    const std::string type = bareMediaType(result.contentType);
    const size_t slash = type.find('/');
    if (slash == std::string::npos || type.substr(0, slash) != "text")
        return result;
    const std::string subtype = type.substr(slash + 1);
    const bool xml = subtype == "xml" || subtype == "xml-external-parsed-entity" || endsWith(subtype, "+xml");
    result.charSet = xml ? "us-ascii" : "ISO-8859-1";
    return result;
}

} // namespace vornel::http
