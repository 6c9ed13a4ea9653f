#pragma once

#include <string>

namespace vornel::download {

// Turns a track title into a file name: every run of characters that file systems or
// shells treat specially (blanks included) shrinks to one space, and the ends are trimmed
// of blanks and control characters. Throws std::runtime_error when nothing is left.
std::string SanitizeFileName(const std::string& utf8Text);

} // namespace vornel::download
