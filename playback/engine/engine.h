#pragma once
// The engine's state behind the contract functions: the output device, the mixer, the
// table of open streams, the configuration and the auto-free sweeper.
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
#include <set>
#include <thread>
#include <vector>

namespace vornel::audio {

class OpenCancel;

class Engine {
public:
    static Engine& instance();

    int init();
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

    // The output volume, 0.0 to 1.0, a gain on the mix.
    void setVolume(float volume) { volume_.store(volume, std::memory_order_relaxed); }
    float volume() const { return volume_.load(std::memory_order_relaxed); }
    // Who hears of volume changes made outside the program.
    void setVolumeListener(VOLUMEPROC proc, void* user);

private:
    // Streams mixed at once; an open beyond that fails with BASS_ERROR_MEM.
    static constexpr size_t kMixSlots = 64;
    static constexpr int kRenderPieceFrames = 4096;

    Engine() = default;
    void render(int16_t* out, int frames);
    void catchUp(int frames);
    bool publish(Stream* stream);
    // Takes the stream out of the mix; when it returns, the callback no longer sees it.
    void unpublish(const Stream* stream);
    void sweep();
    void stopSweeper();

    std::mutex lifecycleMutex_; // one init or free at a time
    mutable std::mutex mutex_;
    bool initialised_ = false;
    std::shared_ptr<AudioOutput> output_;
    int latencyFrames_ = 0;
    std::map<DWORD, std::shared_ptr<Stream>> streams_;
    std::set<std::shared_ptr<OpenCancel>> opening_;
    std::deque<std::shared_ptr<const std::string>> keptTags_;
    std::atomic<DWORD> lastHandle_{0};
    std::atomic<bool> followPlaylists_{false};
    std::atomic<DWORD> prebuffer_{75};
    std::atomic<float> volume_{1.0f};
    VOLUMEPROC volumeProc_ = nullptr; // guarded by mutex_
    void* volumeUser_ = nullptr;      // guarded by mutex_

    // What the device callback reads: streams in slots, kept alive by streams_ until
    // unpublished, and its own mixing buffer, sized at init.
    std::array<std::atomic<Stream*>, kMixSlots> slots_{};
    RenderGate gate_;
    std::vector<int32_t> accumulator_;
    std::thread sweeper_;
    std::mutex sweeperMutex_;
    std::condition_variable sweeperWake_;
    bool sweeperStop_ = false;
};

} // namespace vornel::audio
