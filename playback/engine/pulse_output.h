#pragma once
// The output device on a PulseAudio (or pipewire-pulse) server through libpulse: S16LE
// stereo at 44100 Hz with about 100 ms buffered on the server, so that the process wakes
// rarely while pause, seek and a new track are still heard at once.
#include "playback/engine/audio_output.h"

#include <atomic>

struct pa_context;
struct pa_stream;
struct pa_threaded_mainloop;

namespace vornel::audio {

class PulseOutput : public AudioOutput {
public:
    ~PulseOutput() override;
    // Connects to the server (PULSE_SERVER, else the session's); false when none accepts.
    // open() connects by itself; calling this first lets a caller choose another output.
    bool connect();
    bool open(RenderFunction render, CatchUpFunction catchUp) override;
    void close() override;
    int latencyFrames() const override { return latency_.load(std::memory_order_relaxed); }

private:
    bool startPlayback();
    // Waits, with the mainloop locked, until ready() or failed() or the connect timeout.
    template <typename Ready, typename Failed>
    bool waitFor(Ready ready, Failed failed);
    void fill(size_t bytes);
    void updateLatency();

    static void onContextState(pa_context* context, void* self);
    static void onStreamState(pa_stream* stream, void* self);
    static void onWritable(pa_stream* stream, size_t bytes, void* self);
    static void onTiming(pa_stream* stream, int success, void* self);

    RenderFunction render_;
    pa_threaded_mainloop* mainloop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    bool timedOut_ = false;
    int framesSinceTiming_ = 0; // on the mainloop's thread
    std::atomic<int> latency_{0};
};

} // namespace vornel::audio
