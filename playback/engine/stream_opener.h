#pragma once
// Opening a URL as an audio stream: connect, report the reply head, follow playlists to
// their first playable entry, and wait until the first MP3 frames are there.
#include "playback/audio_library.h"
#include "playback/engine/connection.h"

#include <memory>
#include <mutex>
#include <string>

namespace vornel::audio {

// Lets another thread break off an open (BASS_Free while BASS_StreamCreateURL runs).
class OpenCancel {
public:
    void cancel();
    bool cancelled() const;
    // The connection the open waits on now; a cancel aborts it.
    void attach(Connection* connection);

private:
    mutable std::mutex mutex_;
    bool cancelled_ = false;
    Connection* current_ = nullptr;
};

struct OpenRequest {
    std::string url;
    DWORD flags = 0;
    DOWNLOADPROC proc = nullptr;
    void* user = nullptr;
    bool followPlaylists = false;
};

struct OpenOutcome {
    std::unique_ptr<Connection> connection; // set on success
    int error = BASS_OK;
};

// Blocks until the stream can be decoded, it fails, or it is cancelled.
OpenOutcome openUrl(const OpenRequest& request, OpenCancel& cancel);

// A reply head as zero-terminated lines ended by an empty one.
std::string headLines(const ReplyHead& head);

} // namespace vornel::audio
