#pragma once
// The visible text of an element as a browser's innerText gives it.
#include <gumbo.h>

#include <string>

namespace vornel::catalogue {

// White space collapsed (kept inside <pre> and its kin), a line break for <br> and around
// block elements (two around <p>), a tab between table cells, the content of elements
// that are never rendered (script, style, template, ...) left out, and white space at
// both ends trimmed.
std::string innerText(const GumboNode* element);

} // namespace vornel::catalogue
