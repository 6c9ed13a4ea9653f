#pragma once
// The character encoding of an XML document from its first bytes: a byte-order mark, or
// the "encoding" of its XML declaration read in the form its first bytes show.
#include <string>
#include <string_view>

namespace vornel::http {

// "UTF-8" when neither a byte-order mark nor a declared encoding gives a name.
std::string detectXmlEncoding(std::string_view body);

} // namespace vornel::http
