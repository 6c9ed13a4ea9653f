#pragma once
// Field access on header lines as received, and the media type and character set that a
// Content-Type value gives.
#include <optional>
#include <string>
#include <vector>

#include "text/ascii.h"

namespace vornel::http {

// The value of the first line named `name` (case-insensitive), continuation lines joined
// with one space; nullopt when no line has that name.
std::optional<std::string> findHeader(const std::vector<std::string>& lines, const std::string& name);

// Replaces the first line of the same name as `line`, or appends it.
void setHeaderLine(std::vector<std::string>& lines, const std::string& line);

struct MediaType {
    std::string contentType; // the value without its charset parameter
    std::string charSet;     // the charset parameter, or the default for the media type
};

// From a Content-Type value; both empty when the reply had none (hasContentType false).
MediaType mediaTypeOf(const std::string& contentTypeValue, bool hasContentType);

// Helpers shared by the header, meta and XML code.
std::string trim(const std::string& text);
using text::lowerAscii;
bool equalsIgnoreCase(const std::string& a, const std::string& b);

// "text/html; x=y" -> "text/html" in lower case.
std::string bareMediaType(const std::string& contentType);
bool isHtmlMediaType(const std::string& contentType);
bool isXmlMediaType(const std::string& contentType);

} // namespace vornel::http
