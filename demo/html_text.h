#pragma once
#include <string>
#include <string_view>

namespace vornel::demo {

// Escapes &, <, > and " for use in HTML text and attribute values.
std::string htmlEscape(std::string_view text);

} // namespace vornel::demo
