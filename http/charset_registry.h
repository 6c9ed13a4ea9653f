#pragma once
// The registered (IANA) character-set names and aliases this client can decode, and how.
#include <optional>
#include <string_view>

namespace vornel::http {

enum class CharsetDecoder { Latin1, Utf8, Utf16Le, Utf16Be, UsAscii, Utf7, Converter };

struct RegisteredCharset {
    CharsetDecoder decoder;
    // The system converter's (iconv's) name for the set; empty unless decoder is Converter.
    std::string_view converterName;
};

// Looks a name up among the registered names and aliases, ignoring case and surrounding
// blanks. Names outside the registry, however well the system converter knows them, give
// nothing.
std::optional<RegisteredCharset> findRegisteredCharset(std::string_view name);

} // namespace vornel::http
