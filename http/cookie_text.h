#pragma once
// Small text helpers of the cookie code (ASCII rules, as HTTP headers use them).
#include <string>
#include <string_view>

namespace vornel::http {

// Without characters up to and including the space at both ends.
std::string_view trimmed(std::string_view text);
std::string lowerAscii(std::string_view text);
bool equalsIgnoringCase(std::string_view a, std::string_view b);
bool startsWithIgnoringCase(std::string_view text, std::string_view prefix);
bool endsWithIgnoringCase(std::string_view text, std::string_view suffix);

} // namespace vornel::http
