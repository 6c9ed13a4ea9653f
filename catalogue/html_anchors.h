#pragma once
// The anchors of an HTML page, as a browser's document lists them.
#include <functional>
#include <string>

namespace vornel::catalogue {

using AnchorVisitor = std::function<void(const std::string& href, const std::string& text)>;

// Parses html (UTF-8) and calls visit for every <a> element in document order, nested
// ones included, with its href attribute as written ("" when it has none) and its
// visible text as innerText gives it. Throws std::runtime_error when the page cannot be
// parsed.
void forEachAnchor(const std::string& html, const AnchorVisitor& visit);

} // namespace vornel::catalogue
