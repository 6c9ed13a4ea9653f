#include "catalogue/link_target.h"
#include "catalogue/page_urls.h"

#include <gtest/gtest.h>

#include <limits>

namespace vornel::catalogue {
namespace {

const std::string kBase = "http://127.0.0.1";

struct TargetCase {
    const char* href;
    const char* target;
    const char* url;
};

class HrefToUrl : public ::testing::TestWithParam<TargetCase> {};

TEST_P(HrefToUrl, ReportsTargetAndClassifiesIt)
{
    const TargetCase& c = GetParam();
    EXPECT_EQ(documentTarget(c.href), c.target);
    EXPECT_EQ(linkUrlFromTarget(c.target, kBase), c.url);
}

INSTANTIATE_TEST_SUITE_P(
    Table, HrefToUrl,
    ::testing::Values(
        // other sites and the file host: absolute, unchanged
        TargetCase{"http://127.0.0.2:8691/f/1", "http://127.0.0.2:8691/f/1", "http://127.0.0.2:8691/f/1"},
        TargetCase{"https://example.org/a?b#c", "https://example.org/a?b#c", "https://example.org/a?b#c"},
        // rooted path, fragment, bare name (no slash inserted), query
        TargetCase{"/track/7/", "about:blank/track/7/", "http://127.0.0.1/track/7/"},
        TargetCase{"#top", "about:blank#top", "http://127.0.0.1#top"},
        TargetCase{"page/2/", "about:blankpage/2/", "http://127.0.0.1page/2/"},
        TargetCase{"?q=1", "about:blank?q=1", "http://127.0.0.1?q=1"},
        // missing or empty target: the base
        TargetCase{"", "", "http://127.0.0.1"}, TargetCase{"  \t\n", "", "http://127.0.0.1"},
        // surrounding white space is not part of the reference
        TargetCase{" http://x.example/ ", "http://x.example/", "http://x.example/"},
        // capitals in the scheme and no lower-case "http": relative, base in front
        TargetCase{"HTTP://EXAMPLE.COM/", "HTTP://EXAMPLE.COM/", "http://127.0.0.1HTTP://EXAMPLE.COM/"},
        // mail and script links: absolute references without "http", base in front
        TargetCase{"mailto:a@b.c", "mailto:a@b.c", "http://127.0.0.1mailto:a@b.c"},
        TargetCase{"javascript:void(0)", "javascript:void(0)", "http://127.0.0.1javascript:void(0)"},
        // a relative reference holding "http" still carries "about:blank": relative
        TargetCase{"/go?to=http://x/", "about:blank/go?to=http://x/", "http://127.0.0.1/go?to=http://x/"},
        // "about:blank" twice: both removed
        TargetCase{"about:blank/a/about:blank", "about:blank/a/about:blank", "http://127.0.0.1/a/"},
        TargetCase{"/x/about:blank", "about:blank/x/about:blank", "http://127.0.0.1/x/"},
        // "about:blank", "ftp" and "http" together: unchanged, "about:blank" included
        TargetCase{"/ftp/http", "about:blank/ftp/http", "about:blank/ftp/http"},
        // "about:blank" and "ftp" without "http": relative
        TargetCase{"ftp/x", "about:blankftp/x", "http://127.0.0.1ftp/x"},
        // "ftp" without "http" and without "about:blank": kept as an absolute target
        TargetCase{"ftp://files.example/a.mp3", "ftp://files.example/a.mp3", "ftp://files.example/a.mp3"},
        // a scheme needs a letter first and only letters, digits, + - . before the colon
        TargetCase{"1a:b", "about:blank1a:b", "http://127.0.0.11a:b"},
        TargetCase{"a_b:c", "about:blanka_b:c", "http://127.0.0.1a_b:c"},
        TargetCase{"svn+ssh:x", "svn+ssh:x", "http://127.0.0.1svn+ssh:x"}));

TEST(LinkUrl, ReportedAboutBlankTargetsFromAnyPageBase)
{
    EXPECT_EQ(linkUrlFromTarget("about:blank/a", "https://h.example"), "https://h.example/a");
    EXPECT_EQ(linkUrlFromTarget("about:blankhttp", "https://h.example"), "https://h.examplehttp");
    EXPECT_EQ(linkUrlFromTarget("http://a/about:blank", kBase), kBase + "http://a/");
    EXPECT_EQ(linkUrlFromTarget("about:about:blankblank", kBase), kBase + "about:blank");
}

TEST(PageUrls, NumbersAboveOneGetAPagePath)
{
    const std::string base = "http://cat.example/";
    EXPECT_EQ(pageUrl(base, 1), base);
    EXPECT_EQ(pageUrl(base, 2), "http://cat.example/page/2/");
    EXPECT_EQ(pageUrl(base, 10), "http://cat.example/page/10/");
    EXPECT_EQ(pageUrl(base, std::numeric_limits<int32_t>::max()), "http://cat.example/page/2147483647/");
}

TEST(PageUrls, CompiledInConfiguration)
{
    EXPECT_EQ(catalogueBaseUrl(), VORNEL_CATALOGUE_BASE_URL);
    EXPECT_EQ(catalogueBaseUrl().back(), '/');
    EXPECT_EQ(fileHostMarker(), VORNEL_FILE_HOST_MARKER);
}

TEST(FileHostMarker, MatchesAnywhereWithoutRegardToCase)
{
    EXPECT_TRUE(containsFileHostMarker("http://files.example/a", "files.example"));
    EXPECT_TRUE(containsFileHostMarker("http://FILES.Example/a", "files.example"));
    EXPECT_TRUE(containsFileHostMarker("http://other/?via=Files.Example", "files.example"));
    EXPECT_FALSE(containsFileHostMarker("http://files.exampl/a", "files.example"));
    EXPECT_FALSE(containsFileHostMarker("", "files.example"));
    EXPECT_TRUE(containsFileHostMarker("http://x/", ""));
}

} // namespace
} // namespace vornel::catalogue
