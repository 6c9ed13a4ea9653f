#pragma once
// One open stream: its connection, its decode thread filling a ring of PCM ahead of the
// output, and the play state and position that the listener hears. The device callback
// only calls mix(), which takes no lock and never waits.
#include "playback/audio_library.h"
#include "playback/engine/connection.h"
#include "playback/engine/decode_worker.h"
#include "playback/engine/pcm_ring.h"
#include "playback/engine/render_gate.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace vornel::audio {

class Stream {
public:
    using Clock = std::chrono::steady_clock;

    // gate tells when the device callback is not inside mix(); outputLatencyFrames is what
    // the device holds until the first mix() tells.
    Stream(DWORD handle, DWORD flags, std::unique_ptr<Connection> connection, int outputLatencyFrames,
           const RenderGate& gate);
    ~Stream();

    // Decodes up to the first audio frame and starts the decode thread; BASS_OK or an error.
    int prime(Clock::time_point deadline);
    // Adds this stream's next frames (stereo, output rate) to acc; device callback only.
    // deviceFrames: what the device holds once these frames are written.
    void mix(int32_t* acc, int frames, int deviceFrames);
    // Lets decoding catch up with a render of that many frames, as far as input allows:
    // for outputs that do not play in real time, and before a device starts.
    void catchUp(int frames, Clock::duration limit = std::chrono::seconds(5));
    // Stops the download and the decoding; called once, after the callback has let go.
    void shutdown();

    DWORD handle() const { return handle_; }
    // When an auto-free stream that has ended is to be freed; none for any other.
    std::optional<Clock::time_point> autoFreeTime(Clock::time_point now);

    int play(bool restart);
    int pause();
    DWORD state() const;
    // Byte figures of decoded 16-bit PCM at the stream's rate and channels; -1 when unknown.
    int64_t length() const;
    int64_t position() const;
    int64_t bytesFor(double seconds) const;
    int setPosition(int64_t bytes);
    // -1 with the error in error when not available.
    int64_t filePosition(DWORD mode, int& error);
    // Shared so that a caller still reading the lines after a free does not read freed memory.
    std::shared_ptr<const std::string> tags(DWORD type) const;

    int rate() const { return rate_; }
    int channels() const { return channels_; }

private:
    enum PlayState : int { Stopped, Playing, Paused, Ended };

    void account(int frames, size_t taken, int deviceFrames);
    int64_t lengthFramesLocked() const;
    int seekLocked(int64_t frame);
    int64_t heardFramesLocked() const;
    int64_t frameBytes() const { return int64_t(channels_) * 2; }
    void takeIcyTitle(const std::string& title);
    void takeId3Text(const Id3Text& text);

    const DWORD handle_;
    const DWORD flags_;
    std::atomic<int> latencyFrames_; // what the device holds, as it last told
    const RenderGate& gate_;
    std::shared_ptr<const std::string> httpTags_;
    std::shared_ptr<const std::string> icyTags_;
    // What the stream says it plays; set on its download and decode threads.
    mutable std::mutex ownTagsMutex_;
    std::shared_ptr<const std::string> icyTitleTags_; // guarded by ownTagsMutex_
    std::shared_ptr<const std::string> id3Tags_;      // guarded by ownTagsMutex_
    int64_t contentLength_ = -1;
    int rate_ = 0;
    int channels_ = 0;

    // Shared with the device callback without a lock.
    PcmRing ring_;
    std::unique_ptr<DecodeWorker> worker_;
    std::atomic<int> state_{Stopped};
    std::atomic<bool> mixing_{false}; // false while a seek resets the ring
    std::atomic<bool> starved_{false};
    std::atomic<int64_t> heard_{0}; // output frames since base_ that have left the device
    // The device callback's own; others touch them only while mixing_ is false.
    std::atomic<int64_t> consumed_{0}; // output frames since base_ taken from the ring
    int64_t silentRun_ = 0;            // output frames of silence given since the last data

    mutable std::mutex mutex_;
    std::unique_ptr<Connection> connection_;
    int64_t base_ = 0;                // source frame at which the ring's sound starts
    mutable int64_t knownTotal_ = -1; // all frames, once decoding reached the end
    std::optional<Clock::time_point> endedAt_;
};

} // namespace vornel::audio
