#pragma once
// How deep gumbo itself nests a page: the yardstick that the catalogue's nesting guard is
// checked against, by its fuzz target and its tests.
#include <cstddef>
#include <string>

namespace vornel::fuzz {

// Depth of the element tree that gumbo builds from the page, html and body included.
size_t parsedDepth(const std::string& page);

} // namespace vornel::fuzz
