#pragma once
// The stream worker: frees the previous stream, opens a URL stream, buffers it past 75 per
// cent while it reports the progress, passes on the name and bitrate header lines and
// starts playback. Runs on a thread of its own; reports through sendPlayerNotify.
#include "playback/audio_library.h"

#include <atomic>
#include <functional>
#include <string>

namespace vornel::playback {

// Whether the next stream opens in block mode (set from the window's check box).
extern std::atomic<bool> useBlocks;

// The current stream's handle, 0 when none; it may name a stream already freed.
HSTREAM currentStream();

// Thread procedure. The newest worker wins: a worker started later frees the current
// stream, and an overtaken worker frees its own stream, reports nothing more and ends.
void StreamWorker(std::string url);

// Makes a new worker the newest at once, then runs it for url on a new detached thread.
void startStreamWorker(std::string url);

// How startStreamWorker runs a worker; empty restores the detached thread. Tests hold a
// worker back with it to order its start against other threads.
void setWorkerLauncher(std::function<void(std::function<void()>)> launcher);

// Overtakes every running worker, as a newer one would, and frees the current stream:
// at shutdown running workers then end without a further report.
void retireStreamWorkers();

// The download callback given to every open: reports the server's header text.
void DownloadStatusProc(const void* buffer, DWORD length, void* user);

// The wait between two passes of the buffering loop.
constexpr int bufferingPassWaitMs = 50;

} // namespace vornel::playback
