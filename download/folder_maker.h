#pragma once

#include <string>

namespace vornel::download {

// Makes the folder and any missing parents, each with mode 0755 under the process's umask;
// an existing folder is left as it is. Throws std::runtime_error, saying why, when a part of
// the path is no folder or cannot be made.
void makeFolderWithParents(const std::string& folder);

} // namespace vornel::download
