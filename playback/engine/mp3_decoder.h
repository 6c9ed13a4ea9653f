#pragma once
// libmpg123 in feed mode: compressed bytes in, 16-bit interleaved PCM frames out.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

struct mpg123_handle_struct;

namespace vornel::audio {

// The title and artist of an ID3v2 tag, as UTF-8; empty when the tag has none.
struct Id3Text {
    std::string title;
    std::string artist;
    bool operator==(const Id3Text&) const = default;
};

class Mp3Decoder {
public:
    enum class Result { Audio, NeedMore, Failed };

    Mp3Decoder();
    ~Mp3Decoder();
    Mp3Decoder(const Mp3Decoder&) = delete;
    Mp3Decoder& operator=(const Mp3Decoder&) = delete;

    bool valid() const { return handle_ != nullptr; }
    bool feed(const char* data, size_t size);
    // Decodes the next frame; on Audio, samples/frames point into the decoder's own buffer,
    // valid until the next call.
    Result decode(const int16_t*& samples, size_t& frames);

    int rate() const { return rate_; }
    int channels() const { return channels_; }
    bool formatKnown() const { return rate_ > 0; }

    // Moves to the sample frame; returns the frame reached (or -1) and the input offset
    // from which feeding has to continue.
    int64_t seek(int64_t frame, int64_t& inputOffset);

    // The text of an ID3v2 tag met since the last call (at the start, or between two files
    // of a stream), once; none when no new tag came.
    std::optional<Id3Text> takeNewId3();

private:
    mpg123_handle_struct* handle_ = nullptr;
    int rate_ = 0;
    int channels_ = 0;
};

} // namespace vornel::audio
