#pragma once
// The engine's state behind the contract functions: the output device, the mixer, the
// table of open streams, the configuration, the output volume and the sweeper.
#include "playback/audio_library.h"
#include "playback/engine/audio_output.h"
#include "playback/engine/render_gate.h"
#include "playback/engine/stream.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

namespace vornel::audio {

class OpenCancel;

class Engine {
public:
    static Engine& instance();

    int init();
    // Also breaks off an init that waits for the output device on another thread.
    int free();
    bool initialised() const;

    void setPlaylistFollowing(bool on) { followPlaylists_ = on; }
    void setPrebuffer(DWORD percent) { prebuffer_ = percent; }
    DWORD prebuffer() const { return prebuffer_; }

    // A handle or 0, with the error in error.
    DWORD createUrlStream(const char* url, DWORD flags, DOWNLOADPROC proc, void* user, int& error);
    int freeStream(DWORD handle);
    // The stream behind a live handle, or null.
    std::shared_ptr<Stream> find(DWORD handle) const;
    // Keeps tag lines readable for a while after their stream is freed.
    const char* keepTags(std::shared_ptr<const std::string> lines);

    // The transport, with the output device following: it stands still while nothing
    // plays, and a seek is heard at once.
    int play(DWORD handle, bool restart);
    int pause(DWORD handle);
    int setPosition(DWORD handle, int64_t bytes);
    // The stream's state as the listener meets it: a playing stream whose device cannot
    // play (its sound server is away) is stalled. None for an unknown handle.
    std::optional<DWORD> state(DWORD handle) const;

    // The output volume, 0.0 to 1.0: the device's own when it has one, else a gain on the mix.
    void setVolume(float volume);
    float volume() const { return volume_.load(std::memory_order_relaxed); }
    // Who hears of volume changes made outside the program.
    void setVolumeListener(VOLUMEPROC proc, void* user);

private:
    // Streams mixed at once; an open beyond that fails with BASS_ERROR_MEM.
    static constexpr size_t kMixSlots = 64;
    static constexpr int kRenderPieceFrames = 4096;

    Engine() = default;
    bool render(int16_t* out, int frames, int deviceFrames);
    void catchUp(int frames);
    bool publish(Stream* stream);
    // Takes the stream out of the mix; when it returns, the callback no longer sees it.
    void unpublish(const Stream* stream);
    // Tells the output what the streams do now; dropQueued as AudioOutput::setActivity.
    void updateOutput(bool dropQueued);
    bool playingExcept(const Stream* stream) const; // with mutex_ held
    Activity activity() const;                      // with mutex_ held
    std::shared_ptr<AudioOutput> output() const;
    void outputVolumeChanged(float volume);
    void applyVolume(AudioOutput& output, float volume);

    void sweep();
    void wakeSweeper();
    void stopSweeper();
    std::optional<Stream::Clock::time_point> freeEndedStreams();
    void reportVolumeChange();

    std::mutex lifecycleMutex_; // one init or free at a time
    // Guards initialised_, output_, openingOutput_, latencyFrames_, streams_, opening_,
    // keptTags_, volumeProc_ and volumeUser_; the atomics beside them and everything the
    // device callback reads go without it. Held only to read or change those fields (a
    // stream's own lock may be taken inside it), never across opening a URL, a stream's
    // shutdown, the output's open, close or activity, or a call to a listener. Taken after
    // lifecycleMutex_, outputUpdateMutex_ and volumeMutex_; the device callback never takes it.
    mutable std::mutex mutex_;
    bool initialised_ = false;
    std::shared_ptr<AudioOutput> output_;
    std::shared_ptr<AudioOutput> openingOutput_; // while init waits for it
    int latencyFrames_ = 0;
    std::map<DWORD, std::shared_ptr<Stream>> streams_;
    std::set<std::shared_ptr<OpenCancel>> opening_;
    std::deque<std::shared_ptr<const std::string>> keptTags_;
    std::atomic<DWORD> lastHandle_{0};
    std::atomic<bool> followPlaylists_{false};
    std::atomic<DWORD> prebuffer_{75};
    VOLUMEPROC volumeProc_ = nullptr; // guarded by mutex_
    void* volumeUser_ = nullptr;      // guarded by mutex_

    // One tells the output at a time, so that the last word it hears is the current one.
    std::mutex outputUpdateMutex_;
    std::mutex volumeMutex_; // one volume change at a time
    std::atomic<float> volume_{1.0f};
    std::atomic<float> mixGain_{1.0f}; // 1 while the device applies the volume itself
    std::atomic<bool> volumeChangedOutside_{false};

    // What the device callback reads: streams in slots, kept alive by streams_ until
    // unpublished, and its own mixing buffer, sized at init.
    std::array<std::atomic<Stream*>, kMixSlots> slots_{};
    RenderGate gate_;
    std::vector<int32_t> accumulator_;
    std::atomic<bool> streamEnded_{false}; // the callback saw a stream reach its end

    // The sweeper sleeps until a stream's auto-free time, or until it is woken: a stream
    // ended, the volume changed outside, or the engine is freed.
    std::thread sweeper_;
    std::mutex sweeperMutex_;
    std::condition_variable sweeperWake_;
    bool sweeperWoken_ = false;
    bool sweeperStop_ = false;
};

} // namespace vornel::audio
