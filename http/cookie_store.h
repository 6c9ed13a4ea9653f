#pragma once
// Cookies kept in memory per client, and the Cookie header for later requests.
#include "http/cookie.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vornel::http {

using CookieClock = std::function<CookieTime()>;
// The current time to the millisecond.
CookieTime currentCookieTime();

// Safe to use from several threads: changes take the store's lock for writing, the
// selection for a request takes it for reading.
//
// Bounded as browsers bound their stores, so that no site can make it grow without limit:
// a cookie whose name and value together exceed kMaxNameAndValueBytes is not stored; a
// domain keeps at most kMaxCookiesPerDomain and the store at most kMaxCookies, the least
// recently used (set or sent) going first, expired ones before all others.
class CookieStore {
public:
    static constexpr size_t kMaxNameAndValueBytes = 4096;
    static constexpr size_t kMaxCookiesPerDomain = 50;
    static constexpr size_t kMaxCookies = 3000;
    // When the store is full it drops this many at once, so a flood costs no scan per cookie.
    static constexpr size_t kStorePurgeBatch = 300;

    explicit CookieStore(CookieClock clock = currentCookieTime);
    ~CookieStore();
    CookieStore(const CookieStore&) = delete;
    CookieStore& operator=(const CookieStore&) = delete;

    // Offers every Set-Cookie line of a reply's header block, in the order received.
    void takeReplyCookies(const std::vector<std::string>& rawHeaders, const CookieRequest& request);
    // One Set-Cookie value (the text after "Set-Cookie:").
    void takeSetCookie(const std::string& headerValue, const CookieRequest& request);
    // Purges expired cookies, then the value of the Cookie header, or nothing.
    std::optional<std::string> cookieHeader(const CookieRequest& request);

    // A copy of the stored cookies in the order they were first stored (a replaced cookie
    // keeps its place).
    std::vector<Cookie> cookies() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace vornel::http
