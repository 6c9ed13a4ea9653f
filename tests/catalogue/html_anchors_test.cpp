#include "catalogue/html_anchors.h"
#include "catalogue/inner_text.h"
#include "catalogue/nesting_depth.h"
#include "fuzz/support/parsed_depth.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace vornel::catalogue {
namespace {

using Anchors = std::vector<std::pair<std::string, std::string>>;

Anchors anchorsOf(const std::string& html)
{
    Anchors found;
    forEachAnchor(html, [&](const std::string& href, const std::string& text) { found.emplace_back(href, text); });
    return found;
}

struct TextCase {
    const char* anchorMarkup;
    const char* text;
};

class VisibleText : public ::testing::TestWithParam<TextCase> {};

TEST_P(VisibleText, IsWhatABrowserShows)
{
    const Anchors found = anchorsOf(std::string("<p>x</p>") + GetParam().anchorMarkup);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].second, GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, VisibleText,
    ::testing::Values(TextCase{"<a href=/a>Plain</a>", "Plain"},
                      TextCase{"<a href=/a>  lots \n\t of   space  </a>", "lots of space"},
                      TextCase{"<a href=/a><b>Bold</b> <i>and <u>nested</u></i>!</a>", "Bold and nested!"},
                      TextCase{"<a href=/a>a<span> </span> <span> b</span></a>", "a b"},
                      TextCase{"<a href=/a>R&amp;B &eacute;t&#233; &#x263A; &nbsp;x</a>",
                               "R&B \xC3\xA9t\xC3\xA9 \xE2\x98\xBA \xC2\xA0x"},
                      TextCase{"<a href=/a>one<br>two<br/><br>three</a>", "one\ntwo\n\nthree"},
                      TextCase{"<a href=/a>one <br> two</a>", "one\ntwo"}, TextCase{"<a href=/a><br>lead</a>", "lead"},
                      TextCase{"<a href=/a>head<div>block</div>tail</a>", "head\nblock\ntail"},
                      TextCase{"<a href=/a>x<div><div>deep</div></div>y</a>", "x\ndeep\ny"},
                      TextCase{"<a href=/a>x<p>para</p>y</a>", "x\n\npara\n\ny"},
                      TextCase{"<a href=/a>s<script>var a = '<b>';</script><style>b{}</style>t</a>", "st"},
                      TextCase{"<a href=/a>v<span hidden>gone</span>w</a>", "vw"},
                      TextCase{"<a href=/a><pre>  two\n  lines</pre></a>", "two\n  lines"},
                      TextCase{"<a href=/a><img src=cover.jpg alt=Cover></a>", ""}, TextCase{"<a href=/a></a>", ""},
                      TextCase{"<a href=/a> <!-- note --> </a>", ""},
                      TextCase{"<a href=/a><table><tr><td>c1</td><td>c2</td></tr><tr><td>c3</td></tr></table></a>",
                               "c1\tc2\nc3"}));

TEST(Anchors, DocumentOrderWithHrefsAsWritten)
{
    const Anchors found = anchorsOf("<html><head><title>t</title></head><body>"
                                    "<a href='http://127.0.0.2/x?a=1&amp;b=2'>first</a>"
                                    "<div><ul><li><a href=\"/rel/path\">second</a></li></ul></div>"
                                    "<a name=anchor-without-href>third</a>"
                                    "<a href=''>fourth</a>"
                                    "<A HREF='#frag'>fifth</A>"
                                    "</body></html>");
    const Anchors expected{{"http://127.0.0.2/x?a=1&b=2", "first"},
                           {"/rel/path", "second"},
                           {"", "third"},
                           {"", "fourth"},
                           {"#frag", "fifth"}};
    EXPECT_EQ(found, expected);
}

TEST(Anchors, MisnestedAnchorsAreSplitAsABrowserDoes)
{
    // A second <a> inside an open one closes the first.
    const Anchors found = anchorsOf("<a href=/1>one<a href=/2>two</a></a>");
    const Anchors expected{{"/1", "one"}, {"/2", "two"}};
    EXPECT_EQ(found, expected);
}

TEST(Anchors, AnAnchorOpenedInsideABlockInsideAnAnchorIsAdoptedAsInABrowser)
{
    // The block leaves the outer anchor, which is cloned (empty) into it.
    const Anchors found = anchorsOf("<a href=/outer>out<div><a href=/inner>in</a></div></a>");
    const Anchors expected{{"/outer", "out"}, {"/outer", ""}, {"/inner", "in"}};
    EXPECT_EQ(found, expected);
}

TEST(Anchors, SvgAnchorsAndTemplateContentsAreNotListed)
{
    const Anchors found = anchorsOf("<svg><a href=/svg>s</a></svg><template><a href=/tpl>t</a></template>"
                                    "<a href=/html>h</a>");
    const Anchors expected{{"/html", "h"}};
    EXPECT_EQ(found, expected);
}

TEST(Anchors, PageWithoutAnchorsAndGarbageGiveNothing)
{
    EXPECT_TRUE(anchorsOf("").empty());
    EXPECT_TRUE(anchorsOf("<html><body><p>no links</p></body></html>").empty());
    EXPECT_TRUE(anchorsOf(std::string("\0\xff\xfe<<<>>>&&&;", 14)).empty());
}

TEST(Anchors, InvalidBytesAndNulsDoNotStopTheWalk)
{
    const char kPage[] = "<a href=/a>x\xff\0y</a><a href=/b>b</a>";
    const Anchors found = anchorsOf(std::string(kPage, sizeof kPage - 1));
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[1], (std::pair<std::string, std::string>{"/b", "b"}));
}

TEST(Anchors, DeeplyNestedMarkupDoesNotExhaustTheStack)
{
    std::string html;
    for (size_t i = 0; i < kMaxNestingDepth - 1; ++i)
        html += "<span>";
    html += "<a href=/deep>deep</a>";
    const Anchors found = anchorsOf(html);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].second, "deep");
}

TEST(Anchors, APageNestedDeeperThanTheLimitIsRefusedBeforeParsing)
{
    std::string html;
    for (int i = 0; i < 200000; ++i)
        html += "<div>";
    html += "<a href=/deep>deep</a>";
    EXPECT_THROW(anchorsOf(html), std::runtime_error);
}

TEST(Anchors, NestedAnchorsDoNotEachCarryTheWholeText)
{
    // Every <object> puts a marker in the formatting list, so each anchor nests in the last.
    std::string html = "<a href=http://127.0.0.2/x>";
    for (int i = 1; i < 2000; ++i)
        html += "<object><a href=http://127.0.0.2/x>";
    html += std::string(200000, 'y');
    size_t anchors = 0;
    size_t longest = 0;
    forEachAnchor(html, [&](const std::string&, const std::string& text) {
        ++anchors;
        longest = std::max(longest, text.size());
        EXPECT_EQ(text, std::string(kMaxInnerTextLength, 'y'));
    });
    EXPECT_EQ(anchors, 2000u);
    EXPECT_EQ(longest, kMaxInnerTextLength);
}

TEST(Anchors, LongTextIsCutAtWholeCharacters)
{
    std::string accents;
    for (size_t i = 0; i < kMaxInnerTextLength + 10; ++i)
        accents += "\xc3\xa9"; // e with acute accent, two bytes
    const Anchors found = anchorsOf("<a href=/x>" + accents + "</a><a href=/y>short</a>");
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].second, accents.substr(0, 2 * kMaxInnerTextLength));
    EXPECT_EQ(found[1].second, "short");
}

struct DepthCase {
    std::string html;
    size_t depth;
};

class NestingDepth : public ::testing::TestWithParam<DepthCase> {};

TEST_P(NestingDepth, CountsElementsAsTheParserNestsThem)
{
    const size_t counted = maxOpenElementDepth(GetParam().html);
    EXPECT_EQ(counted, GetParam().depth) << GetParam().html;
    // The parser's tree adds html, body and a last level of elements that hold nothing.
    EXPECT_GE(counted + 3, vornel::fuzz::parsedDepth(GetParam().html)) << GetParam().html;
}

INSTANTIATE_TEST_SUITE_P(
    Pages, NestingDepth,
    ::testing::Values(DepthCase{"", 0}, DepthCase{"<div><div></div><div><span>x</span></div></div>", 3},
                      DepthCase{"<ul><li>a<li>b<li>c</ul>", 2}, DepthCase{"<p>a<p>b<br><img src=x><hr>", 1},
                      DepthCase{"<!-- <div><div> --><b>x</b>", 1},
                      DepthCase{"<script>if (a<b && c<d) {}</script><i>x</i>", 1},
                      DepthCase{"<DIV><Div></div></DIV></div></div><div>", 2}, DepthCase{"a < b and c <3 d", 0},
                      // A self-closing non-void element opens all the same.
                      DepthCase{"<div/><div/><span/>", 3},
                      // An end tag closes only an open element of its name, and not across a block.
                      DepthCase{"<div></x><div></x><div></x>", 3}, DepthCase{"<span><div></span><span><div></span>", 4},
                      // In svg a self-closing tag closes; a "/>" inside a quoted value does not.
                      DepthCase{"<svg><path/><path/></svg><div>", 1}, DepthCase{"<svg><g a=\"/>\"><g a='/>'>", 3},
                      DepthCase{"<svg><foreignObject><x/><x/>", 4},
                      // Formatting elements that a paragraph closed are opened again before the next text.
                      DepthCase{"<p><b id=1><p><b id=2><p>x", 3}, DepthCase{"<a href=1><a href=2>x</a>", 1},
                      // Parts the parser inserts, and sibling parts that close each other.
                      DepthCase{"<table><tr><td>x<td>y<tr><td>z</table>", 4}, DepthCase{"<li><ul><li><ul>", 4},
                      // Rows and cells outside a table are dropped; a later one must not close what followed.
                      DepthCase{"<tr><td>x<div><div><tr><div>", 3},
                      // Comments end where the tokenizer ends them, "<!-->" and "--!>" included.
                      DepthCase{"<!--><div><div><!---><div>", 3}, DepthCase{"<!-- x --!><div><div>", 2}));

TEST(NestingDepth, GuardBypassesFromTheFieldAreRefused)
{
    std::string selfClosing, strayEndTags;
    for (int i = 0; i < 64000; ++i) {
        selfClosing += "<div/>";
        strayEndTags += "<div></x>";
    }
    EXPECT_GT(maxOpenElementDepth(selfClosing), kMaxNestingDepth);
    EXPECT_GT(maxOpenElementDepth(strayEndTags), kMaxNestingDepth);
    EXPECT_THROW(anchorsOf(selfClosing), std::runtime_error);
    EXPECT_THROW(anchorsOf(strayEndTags), std::runtime_error);
}

TEST(NestingDepth, ManyTagsAtGreatDepthAreRefusedThoughTheDepthIsAllowed)
{
    std::string deepThenEndTags;
    for (int i = 0; i < 4000; ++i)
        deepThenEndTags += "<span>";
    for (int i = 0; i < 125000; ++i)
        deepThenEndTags += "</x>";
    const NestingShape shape = measureNesting(deepThenEndTags);
    EXPECT_EQ(shape.deepest, 4000u);
    EXPECT_GT(shape.work, kMaxNestingWork);
    EXPECT_THROW(anchorsOf(deepThenEndTags), std::runtime_error);

    // An ordinary long page: thousands of anchors in a shallow list.
    std::string longList = "<ul>";
    for (int i = 0; i < 20000; ++i)
        longList += "<li><a href=/t/" + std::to_string(i) + "><b>Track</b> " + std::to_string(i) + "</a>";
    EXPECT_TRUE(measureNesting(longList).withinLimits());
    EXPECT_EQ(anchorsOf(longList).size(), 20000u);
}

} // namespace
} // namespace vornel::catalogue
