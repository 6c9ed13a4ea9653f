#pragma once
// Turning body bytes into text by a character-set name. The result is UTF-8.
#include <string>
#include <string_view>

namespace vornel::http {

// An empty name, or one outside the character-set registry, maps each byte to the character
// of the same code; UTF-8, UTF-16LE/BE, US-ASCII (0x80 up -> U+FFFD), UTF-7 and ISO-8859-1
// are decoded here, every other registered name by the system's converter (iconv). A
// byte-order mark stays. The result is valid UTF-8 whatever the bytes: a malformed sequence
// becomes U+FFFD.
std::string decodeBodyText(std::string_view bytes, const std::string& charSet);

} // namespace vornel::http
