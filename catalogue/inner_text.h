#pragma once
// The visible text of an element as a browser's innerText gives it.
#include <gumbo.h>

#include <cstddef>
#include <string>

namespace vornel::catalogue {

// A playlist entry shows one line of a title; this many characters hold any real title
// many times over, while a hostile page whose nested anchors all share one long text
// cannot make every anchor carry all of it (2000 anchors over 200 kB would hold 400 MB).
constexpr size_t kMaxInnerTextLength = 4096;

// The first kMaxInnerTextLength characters (code points) of the text, with white space
// collapsed (kept inside <pre> and its kin), a line break for <br> and around block
// elements (two around <p>), a tab between table cells, the content of elements that are
// never rendered (script, style, template, ...) left out, and white space at both ends
// trimmed.
std::string innerText(const GumboNode* element);

} // namespace vornel::catalogue
