#pragma once
// PLS and M3U playlists that a server may send instead of audio.
#include <string>
#include <vector>

namespace vornel::audio {

// Whether a reply is a playlist, by its content type, the URL's extension or its first bytes.
bool looksLikePlaylist(const std::string& contentType, const std::string& url, const std::string& firstBytes);
// Whether the first bytes alone say so ("[playlist]", "#EXTM3U").
bool startsLikePlaylist(const std::string& firstBytes);

// The entries of a playlist in play order, relative ones resolved against the playlist's URL.
std::vector<std::string> playlistEntries(const std::string& body, const std::string& playlistUrl);

} // namespace vornel::audio
