#pragma once
// The fallback output device through SDL2 audio: S16 stereo at 44100 Hz, in periods of
// about 93 ms. SDL is loaded only when this output is tried, and never through its
// PulseAudio driver: a PulseAudio server that failed the other output is not asked again.
// The open runs on a thread of its own and is given up at its bound, because a driver may
// block for good on a frozen sound server.
#include "playback/engine/audio_output.h"

#include <chrono>
#include <memory>
#include <mutex>

namespace vornel::audio {

class SdlOutput : public AudioOutput {
public:
    explicit SdlOutput(std::chrono::milliseconds openBound = std::chrono::seconds(2));
    ~SdlOutput() override;

    const char* name() const override { return "sdl"; }
    bool open(OutputCallbacks callbacks) override;
    void cancelOpen() override;
    void close() override;
    int latencyFrames() const override;

    struct Attempt;

private:
    const std::chrono::milliseconds openBound_;
    mutable std::mutex mutex_;
    std::shared_ptr<Attempt> attempt_; // the open device's, shared with its opening thread
    bool cancelled_ = false;
};

} // namespace vornel::audio
