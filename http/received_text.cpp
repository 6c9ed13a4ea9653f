#include "http/received_text.h"

namespace vornel::http {

std::string receivedText(const std::string& bytes)
{
    std::string text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) < 0x80)
            text += c;
        else
            text += "\xEF\xBF\xBD";
    }
    return text;
}

std::string asciiForSending(const std::string& utf8)
{
    std::string text;
    text.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        if (lead < 0x80) {
            // Line breaks and NUL from a URL or a Location would end or split a line.
            const bool breaksLine = lead == '\r' || lead == '\n' || lead == '\0';
            text += breaksLine ? '?' : static_cast<char>(lead);
            ++i;
            continue;
        }
        size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        bool wellFormed = length > 1 && i + length <= utf8.size();
        for (size_t k = 1; wellFormed && k < length; ++k)
            wellFormed = (static_cast<unsigned char>(utf8[i + k]) & 0xC0) == 0x80;
        if (!wellFormed)
            length = 1;
        // A code point beyond the basic plane takes two UTF-16 code units.
        text += wellFormed && length == 4 ? "??" : "?";
        i += length;
    }
    return text;
}

} // namespace vornel::http
