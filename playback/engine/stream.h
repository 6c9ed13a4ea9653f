#pragma once
// One open stream: decodes its connection's MP3 data on demand of the output, and keeps
// the play state and the position that the listener hears.
#include "playback/audio_library.h"
#include "playback/engine/connection.h"
#include "playback/engine/mp3_decoder.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vornel::audio {

class Stream {
public:
    using Clock = std::chrono::steady_clock;

    Stream(DWORD handle, DWORD flags, std::unique_ptr<Connection> connection, int outputLatencyFrames);
    ~Stream();

    // Decodes up to the first audio frame; BASS_OK or an error code.
    int prime(Clock::time_point deadline);
    // Adds this stream's next frames (stereo, output rate) to acc; output thread only.
    void mix(int32_t* acc, int frames);
    // Stops the download and leaves the stream silent; called once, before it is dropped.
    void shutdown();

    DWORD handle() const { return handle_; }
    bool autoFreeDue(Clock::time_point now) const;

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
    enum class PlayState { Stopped, Playing, Paused, Ended };

    bool decodeMoreLocked();
    void setPcmLocked(const int16_t* samples, size_t frames, int decodedChannels);
    void clearPcmLocked();
    size_t takeFramesLocked(int16_t* out, size_t frames);
    void mixSameRateLocked(int32_t* acc, int frames, int& produced);
    void mixResampledLocked(int32_t* acc, int frames, int& produced);
    void accountLocked(int frames, int produced);
    int64_t lengthFramesLocked() const;
    int seekLocked(int64_t frame);
    int64_t frameBytes() const { return int64_t(channels_) * 2; }

    const DWORD handle_;
    const DWORD flags_;
    const int latencyFrames_;
    std::shared_ptr<const std::string> httpTags_;
    std::shared_ptr<const std::string> icyTags_;
    int64_t contentLength_ = -1;

    mutable std::mutex mutex_;
    std::unique_ptr<Connection> connection_;
    std::unique_ptr<Mp3Decoder> decoder_;
    int rate_ = 0;
    int channels_ = 0;
    // Decoded frames not yet mixed: in the decoder's buffer, or in converted_.
    const int16_t* pcm_ = nullptr;
    size_t pcmFrames_ = 0;
    size_t pcmRead_ = 0;
    std::vector<int16_t> converted_;
    PlayState state_ = PlayState::Stopped;
    bool starved_ = false;
    bool endOfData_ = false;
    int64_t consumed_ = 0;         // source frames handed to the output
    int64_t heard_ = 0;            // source frames that have left the output
    double silentRun_ = 0;         // source frames of silence given since the last data
    int64_t decodedTotal_ = -1;    // all frames, once the decoder reached the end
    double phase_ = 0;             // resampling: fraction between previous and next frame
    int16_t previous_[2] = {0, 0};
    int16_t next_[2] = {0, 0};
    bool resamplerPrimed_ = false;
    Clock::time_point endedAt_{};
};

} // namespace vornel::audio
