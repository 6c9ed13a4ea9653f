#pragma once
// The output device behind the engine: it asks the engine for 16-bit stereo frames at the
// output rate. BASS_Init opens the default device (PulseAudio, else SDL) unless a test has
// injected another output.
#include <cstdint>
#include <functional>
#include <memory>

namespace vornel::audio {

constexpr int kOutputRate = 44100;
constexpr int kOutputChannels = 2;

// Fills frames interleaved stereo frames at out. deviceFrames is how many frames the device
// holds once these are written: the last of them reaches the listener that much later.
// Returns whether any stream is playing. Never waits: it takes no lock, except briefly to
// wake the engine's sweeper when a stream has just ended.
using RenderFunction = std::function<bool(int16_t* out, int frames, int deviceFrames)>;
// For an output that does not play in real time: waits until the streams have decoded what
// a render of that many frames takes, as far as their input allows. A real-time device
// never calls it.
using CatchUpFunction = std::function<void(int frames)>;
// The device's own volume (0.0 to 1.0) was changed from outside the program, on the
// device's thread.
using VolumeChangedFunction = std::function<void(float volume)>;

// What the streams do, as the device needs to know it.
enum class Activity {
    None,    // no stream plays and none is paused
    Paused,  // none plays, and one is paused: what the device holds is its continuation
    Playing, // at least one plays
};

struct OutputCallbacks {
    RenderFunction render;
    CatchUpFunction catchUp;
    VolumeChangedFunction volumeChanged;
};

class AudioOutput {
public:
    virtual ~AudioOutput() = default;
    // A short name for reports ("pulse", "sdl", ...).
    virtual const char* name() const = 0;
    // Opens the device; false when it cannot be used. Returns within a few seconds whatever a
    // sound server does. A device that can stand still starts calling render only once
    // something plays (setActivity).
    virtual bool open(OutputCallbacks callbacks) = 0;
    // Breaks off an open() running on another thread: it then returns false at once.
    virtual void cancelOpen() {}
    // Stops calling render; after it returns render is never called again.
    virtual void close() = 0;
    // Frames the device holds between the mixer and the listener.
    virtual int latencyFrames() const = 0;
    // False while the device cannot play (its sound server went away or stopped answering);
    // it comes back by itself.
    virtual bool available() const { return true; }
    // While nothing plays a device may stop asking for sound, and while nothing is paused
    // either it may close. dropQueued: what it still holds belongs to a stream that is gone.
    virtual void setActivity(Activity /*activity*/, bool /*dropQueued*/) {}
    // Runs change while render cannot run; when it returns true, drops what the device still
    // holds, so that the change is heard at once.
    virtual void replaceQueued(const std::function<bool()>& change) { change(); }
    // Sets the device's own volume and keeps it for every stream it opens later; false when
    // the device has none (the engine then scales the mix).
    virtual bool setVolume(float /*volume*/) { return false; }
};

// Makes the next BASS_Init use this output instead of the default device (for tests and
// benchmarks); it stays in effect for later inits until replaced. Null restores the default.
void injectAudioOutput(std::shared_ptr<AudioOutput> output);

// The output the next BASS_Init uses: the injected one, else the default device.
std::shared_ptr<AudioOutput> takeAudioOutput();

} // namespace vornel::audio
