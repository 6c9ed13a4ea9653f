#include "download/file_name.h"

#include "text/ascii.h"

#include <stdexcept>

namespace vornel::download {

namespace {

// Every character tested here is ASCII, and in UTF-8 the bytes of a multi-byte sequence
// are all 0x80 or above, so working byte by byte gives the same result as working on the
// code points while leaving any other sequence, valid or not, untouched.
bool isForbidden(char c)
{
    switch (c) {
    case '\t':
    case '\n':
    case '\r':
    case ' ':
    case '"':
    case '*':
    case '/':
    case ':':
    case '<':
    case '>':
    case '?':
    case '\\':
    case '|': return true;
    default: return false;
    }
}

// A forbidden character opening a run becomes a space, the rest of the run asterisks.
std::string markForbiddenRuns(const std::string& text)
{
    std::string marked = text;
    for (std::size_t i = 0; i < marked.size(); ++i) {
        if (!isForbidden(marked[i]))
            continue;
        const bool startsRun = i == 0 || (marked[i - 1] != ' ' && marked[i - 1] != '*');
        marked[i] = startsRun ? ' ' : '*';
    }
    return marked;
}

std::string withoutAsterisks(const std::string& text)
{
    std::string kept;
    kept.reserve(text.size());
    for (char c : text) {
        if (c != '*')
            kept += c;
    }
    return kept;
}

} // namespace

std::string SanitizeFileName(const std::string& utf8Text)
{
    const std::string name(vornel::text::trimmed(withoutAsterisks(markForbiddenRuns(utf8Text))));
    if (name.empty())
        throw std::runtime_error("Resulting FileName was empty Input string was: " + utf8Text);
    return name;
}

} // namespace vornel::download
