#pragma once
// The default output device through SDL2 audio: S16 stereo at 44100 Hz, in periods of
// about 93 ms, so that the process wakes rarely.
#include "playback/engine/audio_output.h"

#include <cstdint>

namespace vornel::audio {

class SdlOutput : public AudioOutput {
public:
    ~SdlOutput() override;
    bool open(RenderFunction render, CatchUpFunction catchUp) override;
    void close() override;
    int latencyFrames() const override { return latency_; }

private:
    static void callback(void* user, uint8_t* stream, int length);

    RenderFunction render_;
    uint32_t device_ = 0;
    int latency_ = 0;
};

} // namespace vornel::audio
