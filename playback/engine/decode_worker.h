#pragma once
// A stream's decode thread: reads the connection's bytes, decodes them with libmpg123,
// fits each part to stereo at the output rate and keeps the stream's ring of PCM topped
// up, so that the device callback only mixes. A change of rate, channel count or MPEG
// version mid-stream starts a new part; each plays at its own speed.
#include "playback/engine/connection.h"
#include "playback/engine/mp3_decoder.h"
#include "playback/engine/pcm_ring.h"
#include "playback/engine/resampler.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace vornel::audio {

class DecodeWorker {
public:
    using Clock = std::chrono::steady_clock;

    // Told of each new ID3v2 tag, on the thread that decodes it (prime()'s or the worker's).
    using Id3Listener = std::function<void(const Id3Text&)>;

    DecodeWorker(Connection& connection, PcmRing& ring, Id3Listener id3Listener = {});
    ~DecodeWorker();
    DecodeWorker(const DecodeWorker&) = delete;
    DecodeWorker& operator=(const DecodeWorker&) = delete;

    // Decodes up to the first audio frame, before start(); BASS_OK or an error code.
    int prime(Clock::time_point deadline);
    // The first frame's format, which positions and lengths are counted in.
    int rate() const { return rate_; }
    int channels() const { return channels_; }

    void start();
    // Ends the thread; the connection must have been aborted or be over.
    void stop();

    // Moves decoding to the sample frame (at the first frame's rate) and empties the ring;
    // the caller keeps the device callback away from the ring meanwhile. Returns the frame
    // reached, or -1 with decoding put back at fallbackFrame.
    int64_t seek(int64_t frame, int64_t fallbackFrame);

    // For outputs that do not play in real time: waits until the ring holds frames, or
    // decoding cannot go further for now (no input yet, or the end).
    void catchUp(size_t frames, Clock::time_point deadline);

    // All the stream's sound is in the ring.
    bool finished() const { return finished_.load(std::memory_order_acquire); }
    // Decoding waits for the connection: the input, not the decoder, keeps the ring low.
    bool starvedForInput() const { return starvedForInput_.load(std::memory_order_relaxed); }
    // Frames (at the first frame's rate) decoded since the start or the last seek.
    int64_t decodedFrames() const;

private:
    // Stalled: the download was broken off before the end (its bytes could not be kept), so
    // no more input comes, yet the stream has not ended.
    enum class Step { Decoded, NeedInput, Stalled, End };

    void run();
    void fillFromWhatArrivedLocked();
    Step stepLocked();
    Mp3Decoder::Result decodeLocked(const int16_t*& samples, size_t& frames);
    void emitLocked(const int16_t* samples, size_t frames, int channels, int rate);
    bool flushLocked();
    void endLocked();
    bool starvedLocked() const;
    void waitForInput(std::unique_lock<std::mutex>& lock);
    void waitWhileStalled(std::unique_lock<std::mutex>& lock);
    std::chrono::milliseconds refillWait() const;
    void interruptWaits();

    Connection& connection_;
    PcmRing& ring_;
    const Id3Listener id3Listener_;
    int rate_ = 0;
    int channels_ = 0;

    mutable std::mutex mutex_;
    std::condition_variable wake_;     // the thread: room in the ring, a seek, the stop
    std::condition_variable progress_; // catchUp: more in the ring, or no further for now
    std::unique_ptr<Mp3Decoder> decoder_;
    std::unique_ptr<Resampler> resampler_;
    std::vector<int16_t> stereo_;  // the current frame as stereo
    std::vector<int16_t> pending_; // output that has not fitted into the ring yet
    size_t pendingSent_ = 0;
    int64_t ticks_ = 0;   // decoded time since the last seek, in scanner ticks
    bool ending_ = false; // the input is used up; the rest goes to the ring
    bool waitingForInput_ = false;
    bool stalled_ = false; // until a seek finds input elsewhere, or the stop
    bool stop_ = false;
    std::atomic<bool> finished_{false};
    std::atomic<bool> starvedForInput_{false};
    std::atomic<bool> interrupted_{false};
    std::thread thread_;
};

} // namespace vornel::audio
