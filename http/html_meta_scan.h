#pragma once
// Finds the header lines (META http-equiv) and the character set (META charset) that an
// HTML document's head declares.
#include <string>
#include <string_view>
#include <vector>

namespace vornel::http {

struct MetaScanResult {
    std::vector<std::string> headerLines; // "Name: value"
    std::string charSet;                  // from a META charset tag, else empty
};

MetaScanResult scanHtmlMeta(std::string_view body);

} // namespace vornel::http
