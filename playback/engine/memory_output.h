#pragma once
// An output device in memory: nothing plays by itself; pull() asks the engine for frames
// as fast as the caller wants them, letting decoding catch up before each piece, so that
// what it renders does not depend on the decode threads' timing.
#include "playback/engine/audio_output.h"

#include <mutex>
#include <vector>

namespace vornel::audio {

class MemoryOutput : public AudioOutput {
public:
    explicit MemoryOutput(int latencyFrames = 0, bool usable = true) : latency_(latencyFrames), usable_(usable) {}

    const char* name() const override { return "memory"; }
    bool open(OutputCallbacks callbacks) override;
    void close() override;
    int latencyFrames() const override { return latency_; }

    // Renders that many stereo frames; empty when the output is closed.
    std::vector<int16_t> pull(int frames);
    // Renders at once, without letting decoding catch up, as a real-time device does.
    std::vector<int16_t> renderNow(int frames);
    bool isOpen() const;

private:
    mutable std::mutex mutex_;
    OutputCallbacks callbacks_;
    int latency_;
    bool usable_;
};

} // namespace vornel::audio
