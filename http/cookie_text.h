#pragma once
// Small text helpers of the cookie code (ASCII rules, as HTTP headers use them).
#include <string>
#include <string_view>

#include "text/ascii.h"

namespace vornel::http {

using text::lowerAscii;
using text::trimmed;
bool equalsIgnoringCase(std::string_view a, std::string_view b);
bool startsWithIgnoringCase(std::string_view text, std::string_view prefix);
bool endsWithIgnoringCase(std::string_view text, std::string_view suffix);

} // namespace vornel::http
