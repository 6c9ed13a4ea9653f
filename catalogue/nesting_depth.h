#pragma once
// A cheap look at how deeply a page's elements nest, before the HTML parser sees it.
// The parser's work grows with the square of the nesting depth, so a hostile page of
// nothing but nested elements would keep the window busy for minutes.
#include <cstddef>
#include <string_view>

namespace vornel::catalogue {

// Pages whose elements stay open deeper than this are refused. Browsers themselves stop
// nesting at a few hundred levels; real catalogue pages stay far below.
constexpr size_t kMaxNestingDepth = 4096;

// The deepest count of elements left open at once, counting start and end tags of the
// elements that only an end tag closes (void and implicitly closed elements, comments and
// the content of script, style and similar elements are passed over).
size_t maxOpenElementDepth(std::string_view html);

} // namespace vornel::catalogue
