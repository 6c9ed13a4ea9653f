#pragma once
// ASCII text rules shared by every library: trimming and case folding byte by byte, so
// UTF-8 sequences (bytes 0x80 and above) pass through unchanged.
#include <string>
#include <string_view>

namespace vornel::text {

// Space and every control character below it (bytes 0 to 32).
bool isBlankOrControl(char c);

// Without characters up to and including the space at both ends.
std::string_view trimmed(std::string_view text);

// A to Z become a to z; every other byte stays.
std::string lowerAscii(std::string_view text);

} // namespace vornel::text
