#pragma once
// A cheap look at how deeply a page's elements nest, before the HTML parser sees it.
// The parser's work grows with the square of the nesting depth, so a hostile page of
// nothing but nested elements would keep the window busy for minutes.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vornel::catalogue {

// Pages whose elements stay open deeper than this are refused. Browsers themselves stop
// nesting at a few hundred levels; real catalogue pages stay far below.
constexpr size_t kMaxNestingDepth = 4096;

// The parser looks through the open elements for most tags, so its work also grows with the
// number of tags times the depth they stand at: 4000 open elements followed by 125 000 end
// tags that close nothing (half a megabyte) kept it busy for a minute. Pages whose sum of
// depths over all tags passes this are refused; an ordinary page of 100 000 tags at depth
// 30 needs 3 M, the deepest page allowed (4096 nested elements) 8.4 M.
constexpr uint64_t kMaxNestingWork = 16 * 1024 * 1024;

struct NestingShape {
    size_t deepest = 0; // elements open at once, html and body aside
    uint64_t work = 0;  // the depth summed over every tag
    bool withinLimits() const { return deepest <= kMaxNestingDepth && work <= kMaxNestingWork; }
};

// How the HTML parser will nest the page's elements, read from the tags alone: see
// open_elements.h for the rules followed. The depth never falls far below the parser's
// real depth, whatever the markup. Counting stops as soon as a limit is passed, so a
// refused page costs no more than the limits' worth.
NestingShape measureNesting(std::string_view html);

// measureNesting(html).deepest
size_t maxOpenElementDepth(std::string_view html);

} // namespace vornel::catalogue
