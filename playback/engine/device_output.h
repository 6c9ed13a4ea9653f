#pragma once
// The default output device: a PulseAudio (or PipeWire) server when one takes a stream,
// unless SDL_AUDIODRIVER pins another SDL driver; else SDL audio on a driver that is not
// PulseAudio. A frozen server cannot hold the attempt: it ends within kOpenBound in all.
#include "playback/engine/audio_output.h"

#include <chrono>
#include <mutex>

namespace vornel::audio {

class DeviceOutput : public AudioOutput {
public:
    static constexpr auto kPulseBound = std::chrono::milliseconds(3000);
    static constexpr auto kSdlBound = std::chrono::milliseconds(2000);
    static constexpr auto kOpenBound = kPulseBound + kSdlBound;

    // The device that open() chose ("pulse" or "sdl"), or "none".
    const char* name() const override;
    bool open(OutputCallbacks callbacks) override;
    void cancelOpen() override;
    void close() override;
    int latencyFrames() const override;
    bool available() const override;
    void setActivity(Activity activity, bool dropQueued) override;
    void replaceQueued(const std::function<bool()>& change) override;
    bool setVolume(float volume) override;

private:
    bool tryOutput(const std::shared_ptr<AudioOutput>& output, const OutputCallbacks& callbacks);
    std::shared_ptr<AudioOutput> chosen() const;

    mutable std::mutex mutex_;
    std::shared_ptr<AudioOutput> trying_; // the one open() is trying, for cancelOpen()
    std::shared_ptr<AudioOutput> chosen_;
    bool cancelled_ = false;
};

} // namespace vornel::audio
