#include "demo/http_message.h"

#include <algorithm>
#include <cctype>

namespace vornel::demo {
namespace {

bool equalsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

bool containsNoCase(std::string_view text, std::string_view word)
{
    if (word.size() > text.size())
        return false;
    for (std::size_t i = 0; i + word.size() <= text.size(); ++i)
        if (equalsNoCase(text.substr(i, word.size()), word))
            return true;
    return false;
}

std::string_view trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

} // namespace

std::string HttpRequest::header(std::string_view name) const
{
    for (const auto& [key, value] : headers)
        if (equalsNoCase(key, name))
            return value;
    return {};
}

std::string HttpRequest::path() const
{
    const std::size_t end = target.find_first_of("?#");
    return end == std::string::npos ? target : target.substr(0, end);
}

bool HttpRequest::keepAlive() const
{
    const std::string connection = header("Connection");
    if (version == "HTTP/1.1")
        return !containsNoCase(connection, "close");
    return containsNoCase(connection, "keep-alive");
}

HttpResponse htmlResponse(int status, std::string reason, std::string html)
{
    HttpResponse r;
    r.status = status;
    r.reason = std::move(reason);
    r.headers.emplace_back("Content-Type", "text/html; charset=utf-8");
    r.ownBody = std::move(html);
    return r;
}

bool parseRequestHead(std::string_view head, HttpRequest& out)
{
    std::size_t lineEnd = head.find("\r\n");
    if (lineEnd == std::string_view::npos)
        return false;
    const std::string_view requestLine = head.substr(0, lineEnd);
    const std::size_t sp1 = requestLine.find(' ');
    const std::size_t sp2 = requestLine.rfind(' ');
    if (sp1 == std::string_view::npos || sp2 == sp1)
        return false;
    out.method = std::string(requestLine.substr(0, sp1));
    out.target = std::string(requestLine.substr(sp1 + 1, sp2 - sp1 - 1));
    out.version = std::string(requestLine.substr(sp2 + 1));
    if (out.target.empty() || out.target.front() != '/' || out.version.rfind("HTTP/1.", 0) != 0)
        return false;
    std::size_t pos = lineEnd + 2;
    while (pos < head.size()) {
        lineEnd = head.find("\r\n", pos);
        if (lineEnd == std::string_view::npos)
            lineEnd = head.size();
        const std::string_view line = head.substr(pos, lineEnd - pos);
        pos = lineEnd + 2;
        if (line.empty())
            break;
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0)
            return false;
        out.headers.emplace_back(std::string(trim(line.substr(0, colon))), std::string(trim(line.substr(colon + 1))));
    }
    return true;
}

std::string formatResponseHead(const HttpResponse& response, bool keepAlive)
{
    std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " + response.reason + "\r\n";
    head += "Server: vornel-demo\r\n";
    for (const auto& [key, value] : response.headers) {
        // Stream servers write their icy- lines without a space after the colon.
        const bool icy = key.rfind("icy-", 0) == 0;
        head += key + (icy ? ":" : ": ") + value + "\r\n";
    }
    head += "Content-Length: " + std::to_string(response.body().size()) + "\r\n";
    head += keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
    head += "\r\n";
    return head;
}

} // namespace vornel::demo
