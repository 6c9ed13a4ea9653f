#include "http/cookie_store.h"

#include "http/cookie_match.h"
#include "http/cookie_parser.h"
#include "http/cookie_text.h"

#include <algorithm>
#include <atomic>
#include <list>
#include <mutex>
#include <shared_mutex>

namespace vornel::http {

namespace {

using namespace std::chrono;

// The last-access time changes while only the reading lock is held.
struct StoredCookie {
    explicit StoredCookie(Cookie parsed)
        : cookie(std::move(parsed)), lastAccessed(cookie.lastAccessed.time_since_epoch().count()) {}
    Cookie cookie;
    std::atomic<int64_t> lastAccessed;

    Cookie snapshot() const
    {
        Cookie copy = cookie;
        copy.lastAccessed = CookieTime{milliseconds{lastAccessed.load()}};
        return copy;
    }
};

bool sameSlot(const Cookie& a, const Cookie& b)
{
    return equalsIgnoringCase(a.name, b.name) && equalsIgnoringCase(a.domain, b.domain)
        && equalsIgnoringCase(a.path, b.path);
}

bool hostMatches(const Cookie& cookie, const std::string& host)
{
    return cookie.hostOnly ? equalsIgnoringCase(host, cookie.domain)
                           : domainMatches(host, cookie.domain);
}

bool appliesTo(const Cookie& cookie, const CookieRequest& request)
{
    const bool overHttps = equalsIgnoringCase(request.protocol, "https");
    const bool overWeb = overHttps || equalsIgnoringCase(request.protocol, "http");
    return hostMatches(cookie, request.host) && pathMatches(request.path, cookie.path)
        && (!cookie.secure || overHttps) && (!cookie.httpOnly || overWeb);
}

// The name of a raw header line is the text before its first ":".
std::optional<std::string> setCookieValue(const std::string& line)
{
    const size_t colon = line.find(':');
    if (colon == std::string::npos || !equalsIgnoringCase(std::string_view(line).substr(0, colon), "set-cookie"))
        return std::nullopt;
    return std::string(trimmed(std::string_view(line).substr(colon + 1)));
}

} // namespace

CookieTime currentCookieTime()
{
    return time_point_cast<milliseconds>(system_clock::now());
}

struct CookieStore::Impl {
    CookieClock clock;
    mutable std::shared_mutex lock;
    std::list<StoredCookie> cookies;

    void store(Cookie cookie, CookieTime now)
    {
        std::unique_lock writing(lock);
        const auto old = std::find_if(cookies.begin(), cookies.end(),
                                      [&](const StoredCookie& s) { return sameSlot(s.cookie, cookie); });
        if (old != cookies.end()) {
            cookie.created = old->cookie.created;
            cookies.erase(old);
        }
        if (!cookie.expiredAt(now))
            cookies.emplace_back(std::move(cookie));
    }

    void purgeExpired(CookieTime now)
    {
        std::unique_lock writing(lock);
        cookies.remove_if([&](const StoredCookie& s) { return s.cookie.expiredAt(now); });
    }

    std::optional<std::string> header(const CookieRequest& request, CookieTime now)
    {
        std::shared_lock reading(lock);
        std::vector<StoredCookie*> chosen;
        for (StoredCookie& stored : cookies)
            if (appliesTo(stored.cookie, request))
                chosen.push_back(&stored);
        if (chosen.empty())
            return std::nullopt;
        std::stable_sort(chosen.begin(), chosen.end(), [](const StoredCookie* a, const StoredCookie* b) {
            if (a->cookie.path.size() != b->cookie.path.size())
                return a->cookie.path.size() > b->cookie.path.size();
            return a->cookie.created < b->cookie.created;
        });
        std::string value;
        for (StoredCookie* stored : chosen) {
            stored->lastAccessed.store(now.time_since_epoch().count());
            if (!value.empty())
                value += "; ";
            value += stored->cookie.name + "=" + stored->cookie.value;
        }
        return value;
    }
};

CookieStore::CookieStore(CookieClock clock) : impl_(std::make_unique<Impl>())
{
    impl_->clock = clock ? std::move(clock) : CookieClock(currentCookieTime);
}

CookieStore::~CookieStore() = default;

void CookieStore::takeReplyCookies(const std::vector<std::string>& rawHeaders, const CookieRequest& request)
{
    for (const std::string& line : rawHeaders)
        if (const auto value = setCookieValue(line))
            takeSetCookie(*value, request);
}

void CookieStore::takeSetCookie(const std::string& headerValue, const CookieRequest& request)
{
    const CookieTime now = impl_->clock();
    if (auto cookie = parseSetCookie(headerValue, request, now))
        impl_->store(std::move(*cookie), now);
}

std::optional<std::string> CookieStore::cookieHeader(const CookieRequest& request)
{
    const CookieTime now = impl_->clock();
    impl_->purgeExpired(now);
    return impl_->header(request, now);
}

std::vector<Cookie> CookieStore::cookies() const
{
    std::shared_lock reading(impl_->lock);
    std::vector<Cookie> copies;
    for (const StoredCookie& stored : impl_->cookies)
        copies.push_back(stored.snapshot());
    return copies;
}

} // namespace vornel::http
