#pragma once

#include <optional>
#include <string>

namespace vornel::download {

// The user's download folder with a trailing "/": XDG_DOWNLOAD_DIR from
// $XDG_CONFIG_HOME/user-dirs.dirs (default $HOME/.config/user-dirs.dirs), else
// $HOME/Downloads; "" when HOME is unset and the file names no usable folder.
std::string downloadsFolder();

// The same lookup with the environment values passed in (nullopt for an unset variable).
std::string downloadsFolder(const std::optional<std::string>& home, const std::optional<std::string>& xdgConfigHome);

} // namespace vornel::download
