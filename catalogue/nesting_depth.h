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

// The deepest count of elements open at once as the HTML parser will nest them (html and
// body aside), read from the tags alone: see open_elements.h for the rules followed. The
// count never falls far below the parser's real depth, whatever the markup; it stops once
// it passes kMaxNestingDepth, so a refused page costs no more than the limit's worth.
size_t maxOpenElementDepth(std::string_view html);

} // namespace vornel::catalogue
