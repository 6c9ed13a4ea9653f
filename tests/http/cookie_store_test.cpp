// The cookie store: which Set-Cookie headers it keeps and the Cookie header it builds.
#include "http/cookie_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

using namespace vornel::http;
using namespace std::chrono;

namespace {

const CookieTime kStart = CookieTime{sys_days{year{2026} / December / 10}} + hours{10};

CookieRequest at(const std::string& protocol, const std::string& host, const std::string& path)
{
    return {protocol, host, path};
}

CookieRequest plain(const std::string& host, const std::string& path = "/")
{
    return at("http", host, path);
}

// A store whose clock the test moves.
struct ClockedStore {
    CookieTime now = kStart;
    CookieStore store{[this] { return now; }};

    void take(const std::string& setCookie, const CookieRequest& from)
    {
        store.takeReplyCookies({"Set-Cookie: " + setCookie}, from);
    }
};

struct Reply {
    std::string setCookie;
    CookieRequest from;
};

struct CookieCase {
    std::string label;
    std::vector<Reply> replies; // one second apart
    CookieRequest to;
    std::optional<std::string> expected;
    int secondsLater = 1; // between the last reply and the request
};

std::ostream& operator<<(std::ostream& out, const CookieCase& c)
{
    return out << c.label;
}

class CookieStoreCases : public testing::TestWithParam<CookieCase> {};

const CookieRequest kSite = plain("www.example.com", "/");

} // namespace

TEST_P(CookieStoreCases, SendsTheExpectedHeader)
{
    const CookieCase& c = GetParam();
    ClockedStore clocked;
    for (const Reply& reply : c.replies) {
        clocked.take(reply.setCookie, reply.from);
        clocked.now += seconds{1};
    }
    clocked.now += seconds{c.secondsLater - 1};
    EXPECT_EQ(clocked.store.cookieHeader(c.to), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    SetCookie, CookieStoreCases,
    testing::Values(
        CookieCase{"RootCookieComesBack", {{"a=1", kSite}}, plain("www.example.com", "/any/"), "a=1"},
        CookieCase{"NothingStoredNothingSent", {}, kSite, std::nullopt},
        CookieCase{"LongerPathFirst",
                   {{"a=1; Path=/", kSite}, {"a=2; Path=/x", kSite}},
                   plain("www.example.com", "/x/"),
                   "a=2; a=1"},
        CookieCase{"OlderFirstAmongEqualPaths", {{"b=1", kSite}, {"a=1", kSite}}, kSite, "b=1; a=1"},
        CookieCase{"ReplacementKeepsItsAge", {{"a=1", kSite}, {"b=1", kSite}, {"A=2", kSite}}, kSite, "A=2; b=1"},
        CookieCase{"OtherPathIsNoReplacement", {{"a=1; Path=/", kSite}, {"a=2; Path=/y", kSite}}, kSite, "a=1"},
        CookieCase{"NegativeMaxAgeDeletes", {{"a=1", kSite}, {"a=x; Max-Age=-1", kSite}}, kSite, std::nullopt},
        CookieCase{"NegativeMaxAgeStoresNothing", {{"b=1", kSite}, {"a=1; Max-Age=-1", kSite}}, kSite, "b=1"},
        CookieCase{"MaxAgeZeroIsGoneAfterwards", {{"a=1", kSite}, {"a=1; Max-Age=0", kSite}}, kSite, std::nullopt},
        CookieCase{"MaxAgeStillValid", {{"a=1; Max-Age=60", kSite}}, kSite, "a=1", 60},
        CookieCase{"MaxAgePassed", {{"a=1; Max-Age=60", kSite}}, kSite, std::nullopt, 61},
        CookieCase{"MaxAgeNotANumberIsIgnored", {{"a=1; Max-Age=soon", kSite}}, kSite, "a=1", 100000},
        CookieCase{"ExpiresAsSecondsStillValid", {{"a=1; Expires=60", kSite}}, kSite, "a=1", 60},
        CookieCase{"ExpiresAsSecondsPassed", {{"a=1; Expires=60", kSite}}, kSite, std::nullopt, 61},
        CookieCase{"ExpiresNegativeSeconds", {{"a=1; Expires=-5", kSite}}, kSite, std::nullopt},
        CookieCase{
            "ExpiresDateInThePast", {{"a=1; Expires=Wed, 21 Oct 2015 07:28:00 GMT", kSite}}, kSite, std::nullopt},
        CookieCase{"ExpiresDateAhead", {{"a=1; expires=Fri, 01 Jan 2100 00:00:00 GMT", kSite}}, kSite, "a=1"},
        CookieCase{"ExpiresDateUnreadableIsIgnored", {{"a=1; Expires=someday", kSite}}, kSite, "a=1"},
        CookieCase{"MaxAgeWinsOverExpires",
                   {{"a=1; Max-Age=100; Expires=Wed, 21 Oct 2015 07:28:00 GMT", kSite}},
                   kSite,
                   "a=1"},
        CookieCase{"HugeMaxAgeLastsToTheEnd", {{"a=1; Max-Age=9000000000000", kSite}}, kSite, "a=1"},
        CookieCase{"LastOfOneAttributeCounts", {{"a=1; Max-Age=-1; Max-Age=100", kSite}}, kSite, "a=1"},
        CookieCase{"AttributeNamesIgnoreCase", {{"a=1; mAX-aGE=-1", kSite}}, kSite, std::nullopt},
        CookieCase{"DomainOfAnotherSiteRejects", {{"a=1; Domain=other.com", kSite}}, plain("other.com"), std::nullopt},
        CookieCase{"DomainSuffixWithoutDotRejects",
                   {{"a=1; Domain=ample.com", plain("example.com")}},
                   plain("example.com"),
                   std::nullopt},
        CookieCase{
            "ParentDomainReachesSiblings", {{"a=1; Domain=.Example.COM", kSite}}, plain("img.example.com"), "a=1"},
        CookieCase{"ParentDomainReachesTheParent", {{"a=1; Domain=example.com", kSite}}, plain("EXAMPLE.com"), "a=1"},
        CookieCase{"EmptyDomainLeavesItHostOnly",
                   {{"a=1; Domain=", plain("example.com")}},
                   plain("www.example.com"),
                   std::nullopt},
        CookieCase{"HostOnlySkipsSubHosts", {{"a=1", plain("example.com")}}, kSite, std::nullopt},
        CookieCase{"HostOnlyIgnoresCase", {{"a=1", plain("Example.com")}}, plain("example.COM"), "a=1"},
        CookieCase{"DomainPartOfAnAddressRejects",
                   {{"a=1; Domain=0.0.1", plain("127.0.0.1")}},
                   plain("127.0.0.1"),
                   std::nullopt},
        CookieCase{"DomainPartOfAMappedAddressRejects",
                   {{"a=1; Domain=0.0.1", plain("::ffff:127.0.0.1")}},
                   plain("::ffff:127.0.0.1"),
                   std::nullopt},
        CookieCase{"DomainEqualToTheAddressIsKept",
                   {{"a=1; Domain=127.0.0.1", plain("127.0.0.1")}},
                   plain("127.0.0.1", "/x/"),
                   "a=1"},
        CookieCase{"DefaultPathSentToItsDirectory", {{"a=1", plain("h", "/a/b/")}}, plain("h", "/a/b/"), "a=1"},
        CookieCase{"DefaultPathSentBelowIt", {{"a=1", plain("h", "/a/b/")}}, plain("h", "/a/b/c/"), "a=1"},
        CookieCase{"DefaultPathNotSentAbove", {{"a=1", plain("h", "/a/b/")}}, plain("h", "/a/"), std::nullopt},
        CookieCase{
            "DefaultPathNotSentToASiblingPrefix", {{"a=1", plain("h", "/a/b/")}}, plain("h", "/a/bc/"), std::nullopt},
        CookieCase{
            "RelativePathTakesTheDefault", {{"a=1; Path=x/y", plain("h", "/a/b/")}}, plain("h", "/a/"), std::nullopt},
        CookieCase{"EmptyPathTakesTheDefault", {{"a=1; Path=", plain("h", "/a/b/")}}, plain("h", "/a/b/"), "a=1"},
        CookieCase{"PathIgnoresCase", {{"a=1; Path=/A", kSite}}, plain("www.example.com", "/a/"), "a=1"},
        CookieCase{"QuotedPath", {{"a=1; Path=\"/p\"", kSite}}, plain("www.example.com", "/p/"), "a=1"},
        CookieCase{"SecureNotSentOverHttp", {{"a=1; Secure", kSite}}, kSite, std::nullopt},
        CookieCase{"SecureSentOverHttps", {{"a=1; secure", kSite}}, at("HTTPS", "www.example.com", "/"), "a=1"},
        CookieCase{"HttpOnlySentOverHttp", {{"a=1; HttpOnly", kSite}}, kSite, "a=1"},
        CookieCase{"QuotedValueLosesItsQuotes", {{"a=\"x y\"; Path=/", kSite}}, kSite, "a=x y"},
        CookieCase{"QuotedValueEndsAtTheSecondQuote", {{"a=\"q\"z", kSite}}, kSite, "a=q"},
        CookieCase{"ValueMayHoldEqualsSigns", {{"a=b=c", kSite}}, kSite, "a=b=c"},
        CookieCase{"EmptyValue", {{"a=", kSite}}, kSite, "a="},
        CookieCase{"NameAndValueTrimmed", {{"  a  =  1  ; Path = / ", kSite}}, kSite, "a=1"},
        CookieCase{"FirstPairWithoutEqualsRejects", {{"abc; Path=/", kSite}}, kSite, std::nullopt},
        CookieCase{"EmptyNameRejects", {{" =1", kSite}}, kSite, std::nullopt},
        CookieCase{"UnknownAttributesIgnored", {{"a=1; SameSite=Lax; Priority", kSite}}, kSite, "a=1"}),
    [](const testing::TestParamInfo<CookieCase>& test) { return test.param.label; });

TEST(CookieStore, TakesEverySetCookieLineOfTheHeaderBlockInOrder)
{
    CookieStore store;
    store.takeReplyCookies({"Content-Type: text/html", "set-cookie: a=1", "SET-COOKIE:b=2", "X-Set-Cookie: c=3",
                            "Set-Cookie : d=4", "Set-Cookie"},
                           kSite);
    EXPECT_EQ(store.cookieHeader(kSite), "a=1; b=2");
}

TEST(CookieStore, RecordsTheFieldsOfACookie)
{
    ClockedStore clocked;
    clocked.take("id=\"7\"; Domain=.Example.com; Path=/p; Max-Age=10; Secure; HttpOnly", kSite);
    clocked.take("s=1", plain("www.example.com", "/a/b/"));
    const std::vector<Cookie> cookies = clocked.store.cookies();
    ASSERT_EQ(cookies.size(), 2u);
    EXPECT_EQ(cookies[0].name, "id");
    EXPECT_EQ(cookies[0].value, "7");
    EXPECT_EQ(cookies[0].domain, "example.com");
    EXPECT_FALSE(cookies[0].hostOnly);
    EXPECT_EQ(cookies[0].path, "/p");
    EXPECT_EQ(cookies[0].expires, kStart + seconds{10});
    EXPECT_TRUE(cookies[0].persistent);
    EXPECT_TRUE(cookies[0].secure);
    EXPECT_TRUE(cookies[0].httpOnly);
    EXPECT_EQ(cookies[0].created, kStart);
    EXPECT_EQ(cookies[1].domain, "www.example.com");
    EXPECT_TRUE(cookies[1].hostOnly);
    EXPECT_EQ(cookies[1].path, "/a/b");
    EXPECT_EQ(cookies[1].expires, sessionCookieExpiry());
    EXPECT_FALSE(cookies[1].persistent);
}

TEST(CookieStore, ReplacementKeepsTheCreationTimeAndTakesTheNewFields)
{
    ClockedStore clocked;
    clocked.take("a=1", kSite);
    clocked.now += hours{1};
    clocked.take("a=2; Max-Age=60", kSite);
    const std::vector<Cookie> cookies = clocked.store.cookies();
    ASSERT_EQ(cookies.size(), 1u);
    EXPECT_EQ(cookies[0].value, "2");
    EXPECT_EQ(cookies[0].created, kStart);
    EXPECT_EQ(cookies[0].expires, kStart + hours{1} + seconds{60});
}

TEST(CookieStore, SendingUpdatesTheLastAccessOfTheSentCookiesOnly)
{
    ClockedStore clocked;
    clocked.take("a=1; Path=/a", kSite);
    clocked.take("b=1; Path=/b", kSite);
    clocked.now += minutes{5};
    EXPECT_EQ(clocked.store.cookieHeader(plain("www.example.com", "/a/")), "a=1");
    const std::vector<Cookie> cookies = clocked.store.cookies();
    ASSERT_EQ(cookies.size(), 2u);
    EXPECT_EQ(cookies[0].lastAccessed, kStart + minutes{5});
    EXPECT_EQ(cookies[1].lastAccessed, kStart);
}

TEST(CookieStore, BuildingTheHeaderPurgesExpiredCookies)
{
    ClockedStore clocked;
    clocked.take("a=1; Max-Age=10", kSite);
    clocked.take("b=1; Max-Age=10; Path=/other", kSite);
    clocked.now += seconds{11};
    EXPECT_EQ(clocked.store.cookieHeader(kSite), std::nullopt);
    EXPECT_TRUE(clocked.store.cookies().empty());
}

TEST(CookieStore, StoresShareNothing)
{
    CookieStore pageClient;
    CookieStore downloadClient;
    pageClient.takeReplyCookies({"Set-Cookie: a=1"}, kSite);
    EXPECT_EQ(pageClient.cookieHeader(kSite), "a=1");
    EXPECT_EQ(downloadClient.cookieHeader(kSite), std::nullopt);
}

TEST(CookieStore, CanBeUsedFromSeveralThreads)
{
    CookieStore store;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&store, t] {
            for (int i = 0; i < 200; ++i) {
                // Each host stays within the per-domain bound, so every cookie is kept.
                const CookieRequest site =
                    plain("h" + std::to_string(t) + "-" + std::to_string(i % 4) + ".example.com");
                store.takeReplyCookies({"Set-Cookie: c" + std::to_string(t) + "_" + std::to_string(i) + "=v"}, site);
                store.cookieHeader(site);
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(store.cookies().size(), 800u);
}

TEST(CookieStore, ReplacementKeepsItsPlaceWhenCreationTimesTie)
{
    ClockedStore clocked; // the clock stands still: every cookie is created at the same time
    clocked.take("x=1", kSite);
    clocked.take("y=2", kSite);
    clocked.take("x=3", kSite);
    EXPECT_EQ(clocked.store.cookieHeader(kSite), "x=3; y=2");
    const std::vector<Cookie> cookies = clocked.store.cookies();
    ASSERT_EQ(cookies.size(), 2u);
    EXPECT_EQ(cookies[0].value, "3");
}

struct UnsendableCase {
    std::string label;
    std::string setCookie;
    std::string header;
};

std::ostream& operator<<(std::ostream& out, const UnsendableCase& c)
{
    return out << c.label;
}

class UnsendableCharacters : public testing::TestWithParam<UnsendableCase> {};

TEST_P(UnsendableCharacters, BecomeQuestionMarks)
{
    CookieStore store;
    store.takeSetCookie(GetParam().setCookie, kSite);
    const std::optional<std::string> header = store.cookieHeader(kSite);
    ASSERT_TRUE(header);
    EXPECT_EQ(*header, GetParam().header);
    EXPECT_EQ(header->find_first_of(std::string("\r\n\0", 3)), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Cookie, UnsendableCharacters,
                         testing::Values(UnsendableCase{"BareCrInValue", "s=1\rX-Injected: 2", "s=1?X-Injected: 2"},
                                         UnsendableCase{"LineFeedInValue", "s=1\nX-Injected: 2; Path=/",
                                                        "s=1?X-Injected: 2"},
                                         UnsendableCase{"CrLfInQuotedValue", "s=\"a\r\nb\"", "s=a??b"},
                                         UnsendableCase{"NulInValue", std::string("s=a\0b", 5), "s=a?b"},
                                         UnsendableCase{"CrInName", "a\rb=1", "a?b=1"}),
                         [](const testing::TestParamInfo<UnsendableCase>& test) { return test.param.label; });

struct SizeCase {
    std::string label;
    size_t nameBytes;
    size_t valueBytes;
    bool stored;
};

std::ostream& operator<<(std::ostream& out, const SizeCase& c)
{
    return out << c.label;
}

class CookieSizeBound : public testing::TestWithParam<SizeCase> {};

TEST_P(CookieSizeBound, KeepsOnlyCookiesWithinTheBound)
{
    const SizeCase& c = GetParam();
    CookieStore store;
    store.takeSetCookie("n=old", kSite);
    const std::string name = "n" + std::string(c.nameBytes - 1, 'a');
    store.takeSetCookie(name + "=" + std::string(c.valueBytes, 'v'), kSite);
    const std::vector<Cookie> cookies = store.cookies();
    ASSERT_EQ(cookies.size(), c.stored ? 2u : 1u);
    EXPECT_EQ(cookies[0].value, "old") << "a cookie too large changes nothing stored";
}

INSTANTIATE_TEST_SUITE_P(
    Cookie, CookieSizeBound,
    testing::Values(SizeCase{"SmallValue", 1 + 1, 10, true},
                    SizeCase{"NameAndValueAtTheBound", 96, CookieStore::kMaxNameAndValueBytes - 96, true},
                    SizeCase{"ValueOneByteOver", 96, CookieStore::kMaxNameAndValueBytes - 95, false},
                    SizeCase{"NameAloneOver", CookieStore::kMaxNameAndValueBytes + 1, 0, false},
                    SizeCase{"SixteenKilobytes", 4, 16 * 1024, false}),
    [](const testing::TestParamInfo<SizeCase>& test) { return test.param.label; });

TEST(CookieStore, AnOversizedCookieDoesNotReplaceTheStoredOne)
{
    CookieStore store;
    store.takeSetCookie("a=1", kSite);
    store.takeSetCookie("a=" + std::string(CookieStore::kMaxNameAndValueBytes, 'x'), kSite);
    EXPECT_EQ(store.cookieHeader(kSite), "a=1");
}

std::vector<std::string> namesOf(const std::vector<Cookie>& cookies)
{
    std::vector<std::string> names;
    for (const Cookie& cookie : cookies)
        names.push_back(cookie.name);
    return names;
}

bool holds(const std::vector<std::string>& names, const std::string& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

struct DomainBoundCase {
    std::string label;
    CookieRequest first;  // where the first cookies are set
    CookieRequest second; // where the cookie over the bound is set
    std::string attributes;
};

std::ostream& operator<<(std::ostream& out, const DomainBoundCase& c)
{
    return out << c.label;
}

class DomainBound : public testing::TestWithParam<DomainBoundCase> {};

// c0 is sent (used) after all are stored: c1 is then the least recently used.
TEST_P(DomainBound, DropsTheLeastRecentlyUsedOfTheDomain)
{
    const DomainBoundCase& c = GetParam();
    ClockedStore clocked;
    const size_t bound = CookieStore::kMaxCookiesPerDomain;
    for (size_t i = 0; i < bound; ++i)
        clocked.take("c" + std::to_string(i) + "=v; Path=/p" + std::to_string(i) + c.attributes, c.first);
    clocked.take("other=v", plain("elsewhere.org"));
    CookieRequest used = c.first;
    used.path = "/p0/";
    ASSERT_EQ(clocked.store.cookieHeader(used), "c0=v");
    clocked.take("late=v" + c.attributes, c.second);

    const std::vector<std::string> names = namesOf(clocked.store.cookies());
    EXPECT_EQ(names.size(), bound + 1);
    EXPECT_FALSE(holds(names, "c1"));
    for (const char* kept : {"c0", "c2", "late", "other"})
        EXPECT_TRUE(holds(names, kept)) << kept;
}

INSTANTIATE_TEST_SUITE_P(Cookie, DomainBound,
                         testing::Values(DomainBoundCase{"HostOnly", kSite, kSite, ""},
                                         DomainBoundCase{"HostNameIgnoresCase", kSite, plain("WWW.Example.com"), ""},
                                         DomainBoundCase{"DomainAttribute", kSite, plain("img.example.com"),
                                                         "; Domain=example.com"}),
                         [](const testing::TestParamInfo<DomainBoundCase>& test) { return test.param.label; });

TEST(CookieStore, ExpiredCookiesOfTheDomainGoFirst)
{
    ClockedStore clocked;
    clocked.take("short=v; Max-Age=5", kSite);
    for (size_t i = 1; i < CookieStore::kMaxCookiesPerDomain; ++i)
        clocked.take("c" + std::to_string(i) + "=v", kSite);
    clocked.now += seconds{10};
    clocked.take("late=v", kSite);
    const std::vector<std::string> names = namesOf(clocked.store.cookies());
    EXPECT_EQ(names.size(), CookieStore::kMaxCookiesPerDomain);
    EXPECT_FALSE(holds(names, "short"));
    EXPECT_TRUE(holds(names, "c1"));
}

TEST(CookieStore, TheWholeStoreIsBoundedLeastRecentlyUsedFirst)
{
    ClockedStore clocked;
    const size_t perDomain = CookieStore::kMaxCookiesPerDomain;
    const size_t domains = CookieStore::kMaxCookies / perDomain + 2;
    for (size_t d = 0; d < domains; ++d) {
        const CookieRequest host = plain("h" + std::to_string(d) + ".example.com");
        for (size_t i = 0; i < perDomain; ++i)
            clocked.take("c" + std::to_string(i) + "=v; Path=/p" + std::to_string(i), host);
        if (d == domains / 2) { // the first cookie of the first host is used again
            ASSERT_EQ(clocked.store.cookieHeader(plain("h0.example.com", "/p0/")), "c0=v");
        }
        EXPECT_LE(clocked.store.cookies().size(), CookieStore::kMaxCookies);
    }
    EXPECT_GE(clocked.store.cookies().size(), CookieStore::kMaxCookies - CookieStore::kStorePurgeBatch);
    EXPECT_EQ(clocked.store.cookieHeader(plain("h0.example.com", "/p0/")), "c0=v");
    EXPECT_EQ(clocked.store.cookieHeader(plain("h0.example.com", "/p1/")), std::nullopt);
    const std::string last = "h" + std::to_string(domains - 1) + ".example.com";
    EXPECT_EQ(clocked.store.cookieHeader(plain(last, "/p1/")), "c1=v");
}
