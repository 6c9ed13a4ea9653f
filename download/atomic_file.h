#pragma once

#include <string>

namespace vornel::download {

// Writes bytes to path so that path afterwards holds either its old content or all of the
// new bytes, never a part: the bytes go to a pending file in the same folder, which is
// flushed to disk and put in place of path. On failure nothing of the new bytes is left,
// an existing file at path is left as it was, and std::runtime_error says why.
void writeFileReplacing(const std::string& path, const std::string& bytes);

} // namespace vornel::download
