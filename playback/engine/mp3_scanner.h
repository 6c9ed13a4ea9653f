#pragma once
// Finds MP3 frames in a byte stream as it arrives: where the audio starts, its format,
// and how many samples the frames seen so far carry (the exact length once all is seen).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace vornel::audio {

struct FrameHeader {
    int version = 1; // 1 = MPEG-1, 2 = MPEG-2, 25 = MPEG-2.5
    int layer = 3;
    int bitrateKbps = 0;
    int sampleRate = 0;
    int channels = 2;
    bool crc = false;
    int size = 0; // bytes of the whole frame, header included
    int samplesPerFrame = 0;
};

// The frame header in the 4 bytes at p, or nothing when they are not one.
std::optional<FrameHeader> parseFrameHeader(const unsigned char* p);
// Whether two headers belong to the same stream.
bool sameStream(const FrameHeader& a, const FrameHeader& b);
// A Xing/Info frame carries no audio, only facts about the stream; frames is the number of
// audio frames it announces, -1 when it does not say.
struct InfoFrame {
    int64_t frames = -1;
};
// The Xing/Info frame at frame (available bytes), or nothing when it is an audio frame.
std::optional<InfoFrame> parseInfoFrame(const unsigned char* frame, size_t available, const FrameHeader& header);

class Mp3Scanner {
public:
    // A unit of time in which a sample of every MPEG rate lasts a whole number of units.
    static constexpr int64_t kTicksPerSecond = 14112000;

    // How far into the data (past an ID3v2 tag) the first frame may start.
    static constexpr int64_t searchLimit = 64 * 1024;

    void feed(const char* data, size_t size);
    // No more data follows: a lone frame at the very end still counts.
    void finish();

    bool locked() const { return firstFrame_.has_value(); }
    bool gaveUp() const { return gaveUp_; }
    const std::optional<FrameHeader>& firstFrame() const { return firstFrame_; }
    int64_t audioStart() const { return audioStart_; }
    // The duration of the frames seen so far in samples at the first frame's rate (parts
    // at another rate count for the time they play).
    int64_t samples() const;
    int64_t audioFrames() const { return audioFrames_; }
    // Samples that an Info frame announces for the whole stream, -1 when none does.
    int64_t declaredSamples() const { return declaredSamples_; }

private:
    enum class State { Start, Search, Frames };
    void process(bool atEnd);
    bool processStart(bool atEnd);
    bool processSearch(bool atEnd);
    bool processFrames(bool atEnd);
    void consume(int64_t bytes);
    void countFrame(const FrameHeader& header);
    size_t pendingSize() const { return pending_.size() - pendingStart_; }
    const unsigned char* at(size_t i) const
    {
        return reinterpret_cast<const unsigned char*>(pending_.data()) + pendingStart_ + i;
    }

    State state_ = State::Start;
    std::string pending_; // bytes not yet consumed start at pendingStart_, at offset base_
    size_t pendingStart_ = 0;
    int64_t base_ = 0;
    int64_t skip_ = 0; // bytes still to pass over that have not arrived yet
    int64_t searched_ = 0;
    bool gaveUp_ = false;
    std::optional<FrameHeader> firstFrame_;
    std::optional<FrameHeader> current_;
    int64_t audioStart_ = -1;
    int64_t ticks_ = 0; // duration in units of 1/kTicksPerSecond s
    int64_t audioFrames_ = 0;
    int64_t framesSeen_ = 0;
    int64_t declaredSamples_ = -1;
};

} // namespace vornel::audio
