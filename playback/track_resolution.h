#pragma once
// Cutting an entry page's audio URL out of its snippet {mp3:"...mp3"}.
#include <optional>
#include <string>

namespace vornel::playback {

// The page text in the system's 8-bit code page (UTF-8 here). Returns the URL (possibly
// empty, when the closing marker stands before the opening one), or nullopt when a
// marker is missing: the entry is dead.
std::optional<std::string> cutTrackUrl(const std::string& pageText);

} // namespace vornel::playback
