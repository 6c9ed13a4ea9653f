// URL splitting and relative path resolution.
#include "http/uri.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using vornel::http::resolvePath;
using vornel::http::splitUri;

struct SplitCase {
    const char* url;
    const char* protocol;
    const char* username;
    const char* password;
    const char* host;
    const char* port;
    const char* path;
    const char* document;
    const char* params;
    const char* bookmark;
    bool ipv6;
};

class SplitTest : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitTest, CutsTheParts)
{
    const SplitCase& c = GetParam();
    const auto parts = splitUri(c.url);
    EXPECT_EQ(parts.protocol, c.protocol);
    EXPECT_EQ(parts.username, c.username);
    EXPECT_EQ(parts.password, c.password);
    EXPECT_EQ(parts.host, c.host);
    EXPECT_EQ(parts.port, c.port);
    EXPECT_EQ(parts.path, c.path);
    EXPECT_EQ(parts.document, c.document);
    EXPECT_EQ(parts.params, c.params);
    EXPECT_EQ(parts.bookmark, c.bookmark);
    EXPECT_EQ(parts.ipv6, c.ipv6);
}

INSTANTIATE_TEST_SUITE_P(
    Urls, SplitTest,
    testing::Values(
        SplitCase{"", "", "", "", "", "", "", "", "", "", false},
        SplitCase{"http://u:pw@example.org:8080/a/b/page.html?x=1&y=2#top", "http", "u", "pw", "example.org", "8080",
                  "/a/b/", "page.html", "x=1&y=2", "top", false},
        SplitCase{"https://example.org", "https", "", "", "example.org", "", "/", "", "", "", false},
        SplitCase{"http://example.org?q=1", "http", "", "", "example.org", "", "/", "", "q=1", "", false},
        SplitCase{"http://alice@h/", "http", "alice", "", "h", "", "/", "", "", "", false},
        SplitCase{"http://:secret@h/", "http", "", "", "h", "", "/", "", "", "", false},
        SplitCase{"http://a@b@h/x", "http", "a@b", "", "h", "", "/", "x", "", "", false},
        SplitCase{"http://[::1]:8443/p/f", "http", "", "", "::1", "8443", "/p/", "f", "", "", true},
        SplitCase{"http://[fe80::1]/", "http", "", "", "fe80::1", "", "/", "", "", "", true},
        SplitCase{"http://h:abc/", "http", "", "", "h", "abc", "/", "", "", "", false},
        SplitCase{"page.html", "", "", "", "", "", "", "page.html", "", "", false},
        SplitCase{"dir/sub/page.html?a#b", "", "", "", "", "", "dir/sub/", "page.html", "a", "b", false},
        SplitCase{"/abs/doc", "", "", "", "", "", "/abs/", "doc", "", "", false},
        SplitCase{"http://h/p?q=1#frag", "http", "", "", "h", "", "/", "p", "q=1", "frag", false},
        // The "?" cut comes first, even when a "#" precedes it.
        SplitCase{"http://h/p#frag?q", "http", "", "", "h", "", "/", "p#frag", "q", "", false},
        SplitCase{"doc#frag", "", "", "", "", "", "", "doc", "", "frag", false},
        SplitCase{"http://h\\a\\b.html?x=\\y", "http", "", "", "h", "", "/a/", "b.html", "x=\\y", "", false},
        SplitCase{"http:\\\\h\\dir\\f", "", "", "", "", "", "http:\\\\h/dir/", "f", "", "", false},
        SplitCase{"page?next=http://other/x", "page?next=http", "", "", "other", "", "/", "x", "", "", false}));

TEST(Split, KeepsNormalisedUrlAndBuildsRequestTarget)
{
    const auto parts = splitUri("http://h\\a\\b.html?q=1#f");
    EXPECT_EQ(parts.url, "http://h/a/b.html?q=1#f");
    EXPECT_EQ(parts.pathAndParams(), "/a/b.html?q=1");
    EXPECT_EQ(splitUri("http://h/a/").pathAndParams(), "/a/");
}

struct ResolveCase {
    const char* base;
    const char* path;
    const char* expected;
};

class ResolveTest : public testing::TestWithParam<ResolveCase> {};

TEST_P(ResolveTest, CombinesPaths)
{
    const ResolveCase& c = GetParam();
    EXPECT_EQ(resolvePath(c.base, c.path), c.expected) << c.base << " + " << c.path;
}

INSTANTIATE_TEST_SUITE_P(Paths, ResolveTest,
                         testing::Values(ResolveCase{"/a/b/", "../c/", "/a/c/"}, ResolveCase{"/a/b/", "", "/a/b/"},
                                         ResolveCase{"/a", "x/", "/a/x/"}, ResolveCase{"/a/b/", "c", "/a/b/c"},
                                         ResolveCase{"/a/b/", "/z/", "/z/"}, ResolveCase{"/a//", "b//c/", "/a/b/c/"},
                                         ResolveCase{"/a/", "./b/", "/a/./b/"}, ResolveCase{"/", "../x/", "/x/"},
                                         ResolveCase{"", "", ""}, ResolveCase{"/a/b/", "../../../", "/"},
                                         ResolveCase{"/a/b", "c", "/a/b/c"}));

} // namespace
