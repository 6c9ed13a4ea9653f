#pragma once
// The demo's MP3 files: made once per pitch and length in a cache folder, then held in memory.
#include <map>
#include <string>

namespace vornel::demo {

// $XDG_CACHE_HOME/vornel-demo when that variable is set, else /tmp/vornel-demo-<uid>.
std::string defaultCacheDir();

// File name of a track inside the cache folder: track-<id>-<pitch>hz-<seconds>s.mp3.
std::string trackFileName(int id, int pitchHz, int seconds);

class TrackFiles {
public:
    // Makes (or reuses) the MP3 of every live track and loads them. Returns an error
    // text, empty on success.
    std::string prepare(const std::string& cacheDir, int seconds);
    // The MP3 bytes of a track, or nullptr for a dead or unknown one.
    const std::string* bytes(int id) const;

private:
    std::map<int, std::string> files_;
};

} // namespace vornel::demo
