#pragma once
// The output device behind the engine: it asks the engine for 16-bit stereo frames at the
// output rate. BASS_Init opens the PulseAudio or SDL device unless a test has injected
// another output.
#include <cstdint>
#include <functional>
#include <memory>

namespace vornel::audio {

constexpr int kOutputRate = 44100;
constexpr int kOutputChannels = 2;

// Fills frames interleaved stereo frames at out. Takes no lock and never waits.
using RenderFunction = std::function<void(int16_t* out, int frames)>;
// For an output that does not play in real time: waits until the streams have decoded what
// a render of that many frames takes, as far as their input allows. A real-time device
// never calls it.
using CatchUpFunction = std::function<void(int frames)>;

class AudioOutput {
public:
    virtual ~AudioOutput() = default;
    // Opens the device and starts calling render; false when no device can be used.
    virtual bool open(RenderFunction render, CatchUpFunction catchUp) = 0;
    // Stops calling render; after it returns render is never called again.
    virtual void close() = 0;
    // Frames the device holds between the mixer and the listener.
    virtual int latencyFrames() const = 0;
};

// Makes the next BASS_Init use this output instead of the default device (for tests and
// benchmarks); it stays in effect for later inits until replaced. Null restores the default.
void injectAudioOutput(std::shared_ptr<AudioOutput> output);

// The output the next BASS_Init uses: the injected one, else a PulseAudio server that accepts
// the connection unless SDL_AUDIODRIVER pins another SDL driver, else the SDL default device.
std::shared_ptr<AudioOutput> takeAudioOutput();

} // namespace vornel::audio
