#pragma once
// Who hears that a stream's own tags (its ICY title, its ID3v2 text) changed: the one
// listener that BASS_SetStreamTagsProc installs, process-wide like the engine.
#include "playback/audio_library.h"

namespace vornel::audio {

// Replaces the listener; when this returns, no call of the old one is still running.
void setStreamTagsListener(STREAMTAGSPROC proc, void* user);
// Calls the listener, if any, on the calling thread.
void streamTagsChanged(HSTREAM handle, DWORD tags);

} // namespace vornel::audio
