#pragma once
// Converting between the protocol's US-ASCII lines and the program's UTF-8 strings.
#include <string>

namespace vornel::http {

// A received line as text: each byte from 0x80 up becomes U+FFFD.
std::string receivedText(const std::string& bytes);
// Text to send: every UTF-16 code unit outside US-ASCII becomes "?", and so do CR, LF
// and NUL, which could otherwise end the line or inject one of their own.
std::string asciiForSending(const std::string& utf8);

} // namespace vornel::http
