#pragma once
// One cookie as the store keeps it.
#include <chrono>
#include <string>

namespace vornel::http {

// Cookie times are kept to the millisecond; the range reaches from year 1 to 9999.
using CookieTime = std::chrono::sys_time<std::chrono::milliseconds>;

// The expiry of a cookie that lives until the client is freed: 9999-12-31 23:59:59.999.
CookieTime sessionCookieExpiry();
// A time before every real one (year 1): a cookie given it is expired.
CookieTime longAgo();

// The request as the client prepared it: protocol, host, and the directory part of the
// path (ending in "/").
struct CookieRequest {
    std::string protocol;
    std::string host;
    std::string path;
};

struct Cookie {
    std::string name;
    std::string value;
    std::string domain;
    bool hostOnly = true;
    std::string path;
    CookieTime expires = sessionCookieExpiry();
    bool persistent = false;
    bool secure = false;
    bool httpOnly = false;
    CookieTime created{};
    CookieTime lastAccessed{};

    bool expiredAt(CookieTime now) const { return now > expires; }
};

} // namespace vornel::http
