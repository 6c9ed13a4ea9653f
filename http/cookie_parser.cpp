#include "http/cookie_parser.h"

#include "http/cookie_date.h"
#include "http/cookie_match.h"
#include "http/cookie_text.h"

#include <charconv>
#include <cstdint>

namespace vornel::http {

namespace {

using namespace std::chrono;

struct NameValue {
    std::string_view name;
    std::string_view value;
};

// A value that begins with a double quote is the text up to the next quote.
std::string_view unquoted(std::string_view value)
{
    if (value.empty() || value.front() != '"')
        return value;
    value.remove_prefix(1);
    const size_t close = value.find('"');
    return close == std::string_view::npos ? value : value.substr(0, close);
}

NameValue splitPair(std::string_view text)
{
    const size_t equals = text.find('=');
    if (equals == std::string_view::npos)
        return {trimmed(text), {}};
    return {trimmed(text.substr(0, equals)), unquoted(trimmed(text.substr(equals + 1)))};
}

std::optional<int64_t> wholeNumber(std::string_view text)
{
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

// Seconds from now; a negative count lies in year 1, a huge one ends at the session expiry.
CookieTime secondsFromNow(CookieTime now, int64_t count)
{
    if (count < 0)
        return longAgo();
    const auto room = duration_cast<seconds>(sessionCookieExpiry() - now).count();
    if (count >= room)
        return sessionCookieExpiry();
    return now + seconds{count};
}

// The attributes as read, the last of each name winning.
struct Attributes {
    std::optional<CookieTime> maxAge;
    std::optional<CookieTime> expires;
    std::optional<std::string> domain;
    std::optional<std::string> path; // empty: the default path
    bool secure = false;
    bool httpOnly = false;
};

void readAttribute(NameValue attribute, CookieTime now, Attributes& out)
{
    const std::string_view name = attribute.name;
    const std::string_view value = attribute.value;
    if (equalsIgnoringCase(name, "expires")) {
        if (const auto count = wholeNumber(value))
            out.expires = secondsFromNow(now, *count);
        else if (const auto date = parseCookieDate(value))
            out.expires = *date;
    } else if (equalsIgnoringCase(name, "max-age")) {
        if (const auto count = wholeNumber(value))
            out.maxAge = secondsFromNow(now, *count);
    } else if (equalsIgnoringCase(name, "domain")) {
        std::string_view domain = value;
        if (!domain.empty() && domain.front() == '.')
            domain.remove_prefix(1);
        if (!domain.empty())
            out.domain = lowerAscii(domain);
    } else if (equalsIgnoringCase(name, "path")) {
        out.path = (value.empty() || value.front() != '/') ? std::string() : std::string(value);
    } else if (equalsIgnoringCase(name, "secure")) {
        out.secure = true;
    } else if (equalsIgnoringCase(name, "httponly")) {
        out.httpOnly = true;
    }
}

Attributes readAttributes(std::string_view rest, CookieTime now)
{
    Attributes attributes;
    while (!rest.empty()) {
        const size_t semicolon = rest.find(';');
        const std::string_view piece = rest.substr(0, semicolon);
        rest = semicolon == std::string_view::npos ? std::string_view() : rest.substr(semicolon + 1);
        if (!trimmed(piece).empty())
            readAttribute(splitPair(piece), now, attributes);
    }
    return attributes;
}

// A cookie's name and value go back into request heads: a line break or NUL from the server
// becomes "?", as other characters a head cannot carry do.
std::string sendable(std::string_view text)
{
    std::string safe(text);
    for (char& c : safe)
        if (c == '\r' || c == '\n' || c == '\0')
            c = '?';
    return safe;
}

bool isWebProtocol(std::string_view protocol)
{
    return equalsIgnoringCase(protocol, "http") || equalsIgnoringCase(protocol, "https");
}

} // namespace

std::optional<Cookie> parseSetCookie(std::string_view headerValue, const CookieRequest& request, CookieTime now)
{
    const size_t semicolon = headerValue.find(';');
    const std::string_view firstPair = headerValue.substr(0, semicolon);
    if (firstPair.find('=') == std::string_view::npos)
        return std::nullopt;
    const NameValue pair = splitPair(firstPair);
    if (pair.name.empty())
        return std::nullopt;

    const Attributes attributes = readAttributes(
        semicolon == std::string_view::npos ? std::string_view() : headerValue.substr(semicolon + 1), now);

    Cookie cookie;
    cookie.name = sendable(pair.name);
    cookie.value = sendable(pair.value);
    if (attributes.maxAge || attributes.expires) {
        cookie.expires = attributes.maxAge ? *attributes.maxAge : *attributes.expires;
        cookie.persistent = true;
    }
    if (attributes.domain) {
        if (!domainMatches(request.host, *attributes.domain))
            return std::nullopt;
        cookie.domain = *attributes.domain;
        cookie.hostOnly = false;
    } else {
        cookie.domain = request.host;
        cookie.hostOnly = true;
    }
    cookie.path = (attributes.path && !attributes.path->empty()) ? *attributes.path : defaultCookiePath(request.path);
    cookie.secure = attributes.secure;
    cookie.httpOnly = attributes.httpOnly;
    if (cookie.httpOnly && !isWebProtocol(request.protocol))
        return std::nullopt;
    cookie.created = now;
    cookie.lastAccessed = now;
    return cookie;
}

} // namespace vornel::http
