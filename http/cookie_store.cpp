#include "http/cookie_store.h"

#include "http/cookie_match.h"
#include "http/cookie_parser.h"
#include "http/cookie_text.h"

#include <algorithm>
#include <atomic>
#include <list>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>

namespace vornel::http {

namespace {

using namespace std::chrono;

// The last-access time and the use order change while only the reading lock is held.
struct StoredCookie {
    StoredCookie(Cookie parsed, std::string slotKey, uint64_t use)
        : cookie(std::move(parsed)), slot(std::move(slotKey)),
          lastAccessed(cookie.lastAccessed.time_since_epoch().count()), lastUse(use)
    {}
    Cookie cookie;
    std::string slot;
    std::atomic<int64_t> lastAccessed;
    // When the cookie was last set or sent, as a count over the store: the eviction order.
    std::atomic<uint64_t> lastUse;

    Cookie snapshot() const
    {
        Cookie copy = cookie;
        copy.lastAccessed = CookieTime{milliseconds{lastAccessed.load()}};
        return copy;
    }
};

using CookieList = std::list<StoredCookie>;
using CookiePosition = CookieList::iterator;

// Name, domain and path, each without regard to case: cookies of one slot replace each other.
std::string slotKey(const Cookie& cookie)
{
    return lowerAscii(cookie.name) + '\0' + lowerAscii(cookie.domain) + '\0' + lowerAscii(cookie.path);
}

bool hostMatches(const Cookie& cookie, const std::string& host)
{
    return cookie.hostOnly ? equalsIgnoringCase(host, cookie.domain) : domainMatches(host, cookie.domain);
}

bool appliesTo(const Cookie& cookie, const CookieRequest& request)
{
    const bool overHttps = equalsIgnoringCase(request.protocol, "https");
    const bool overWeb = overHttps || equalsIgnoringCase(request.protocol, "http");
    return hostMatches(cookie, request.host) && pathMatches(request.path, cookie.path) &&
           (!cookie.secure || overHttps) && (!cookie.httpOnly || overWeb);
}

// The name of a raw header line is the text before its first ":".
std::optional<std::string> setCookieValue(const std::string& line)
{
    const size_t colon = line.find(':');
    if (colon == std::string::npos || !equalsIgnoringCase(std::string_view(line).substr(0, colon), "set-cookie"))
        return std::nullopt;
    return std::string(trimmed(std::string_view(line).substr(colon + 1)));
}

bool tooLarge(const Cookie& cookie)
{
    return cookie.name.size() + cookie.value.size() > CookieStore::kMaxNameAndValueBytes;
}

// Expired cookies go before all others, then the least recently used.
bool evictedBefore(const StoredCookie& a, const StoredCookie& b, CookieTime now)
{
    const bool aExpired = a.cookie.expiredAt(now);
    if (aExpired != b.cookie.expiredAt(now))
        return aExpired;
    return a.lastUse.load() < b.lastUse.load();
}

} // namespace

CookieTime currentCookieTime()
{
    return time_point_cast<milliseconds>(system_clock::now());
}

struct CookieStore::Impl {
    CookieClock clock;
    mutable std::shared_mutex lock;
    CookieList cookies;
    std::unordered_map<std::string, CookiePosition> bySlot;
    std::unordered_map<std::string, std::vector<CookiePosition>> byDomain;
    std::atomic<uint64_t> useCount{0};

    uint64_t nextUse() { return ++useCount; }

    void store(Cookie cookie, CookieTime now)
    {
        if (tooLarge(cookie))
            return;
        std::unique_lock writing(lock);
        std::string key = slotKey(cookie);
        const auto old = bySlot.find(key);
        if (old != bySlot.end()) {
            replace(old->second, std::move(cookie), now);
            return;
        }
        if (cookie.expiredAt(now))
            return;
        const std::string domain = lowerAscii(cookie.domain);
        cookies.emplace_back(std::move(cookie), key, nextUse());
        const CookiePosition added = std::prev(cookies.end());
        bySlot.emplace(std::move(key), added);
        std::vector<CookiePosition>& inDomain = byDomain[domain];
        inDomain.push_back(added);
        if (inDomain.size() > kMaxCookiesPerDomain)
            remove(*std::min_element(inDomain.begin(), inDomain.end(),
                                     [&](CookiePosition a, CookiePosition b) { return evictedBefore(*a, *b, now); }));
        if (cookies.size() > kMaxCookies)
            purgeLeastRecentlyUsed(now);
    }

    // The new cookie takes the old one's place and its creation time.
    void replace(CookiePosition old, Cookie cookie, CookieTime now)
    {
        if (cookie.expiredAt(now)) {
            remove(old);
            return;
        }
        cookie.created = old->cookie.created;
        old->lastAccessed.store(cookie.lastAccessed.time_since_epoch().count());
        old->cookie = std::move(cookie);
        old->lastUse.store(nextUse());
    }

    void remove(CookiePosition position)
    {
        const auto domain = byDomain.find(lowerAscii(position->cookie.domain));
        if (domain != byDomain.end()) {
            std::vector<CookiePosition>& inDomain = domain->second;
            const auto found = std::find(inDomain.begin(), inDomain.end(), position);
            if (found != inDomain.end()) {
                *found = inDomain.back();
                inDomain.pop_back();
            }
            if (inDomain.empty())
                byDomain.erase(domain);
        }
        bySlot.erase(position->slot);
        cookies.erase(position);
    }

    void purgeLeastRecentlyUsed(CookieTime now)
    {
        std::vector<CookiePosition> all;
        all.reserve(cookies.size());
        for (auto it = cookies.begin(); it != cookies.end(); ++it)
            all.push_back(it);
        const size_t excess = cookies.size() - kMaxCookies + kStorePurgeBatch;
        std::nth_element(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(excess) - 1, all.end(),
                         [&](CookiePosition a, CookiePosition b) { return evictedBefore(*a, *b, now); });
        for (size_t i = 0; i < excess; ++i)
            remove(all[i]);
    }

    void purgeExpired(CookieTime now)
    {
        std::unique_lock writing(lock);
        for (auto it = cookies.begin(); it != cookies.end();) {
            const auto next = std::next(it);
            if (it->cookie.expiredAt(now))
                remove(it);
            it = next;
        }
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
            stored->lastUse.store(nextUse());
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
    copies.reserve(impl_->cookies.size());
    for (const StoredCookie& stored : impl_->cookies)
        copies.push_back(stored.snapshot());
    return copies;
}

} // namespace vornel::http
