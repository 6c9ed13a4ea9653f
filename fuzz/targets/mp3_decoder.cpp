// The decoder fed as a stream arrives, decoding all it can after each piece. First byte:
#include <algorithm>
// the size of the pieces.
#include "fuzz/fuzz_input.h"
#include "fuzz/fuzz_target.h"
#include "playback/engine/mp3_decoder.h"

using vornel::audio::Mp3Decoder;

namespace {

void decodeAvailable(Mp3Decoder& decoder)
{
    const int16_t* samples = nullptr;
    size_t frames = 0;
    while (decoder.decode(samples, frames) == Mp3Decoder::Result::Audio) {
        int64_t sum = 0; // touches every sample the decoder hands out
        for (size_t i = 0; i < frames * static_cast<size_t>(decoder.channels()); ++i)
            sum += samples[i];
        (void)sum;
    }
}

} // namespace

VORNEL_FUZZ_TARGET(mp3_decoder)
{
    vornel::fuzz::FuzzInput input(data, size);
    const size_t piece = 1 + input.byte() * 64u;
    const std::string stream = input.rest();
    Mp3Decoder decoder;
    if (!decoder.valid())
        return 0;
    for (size_t at = 0; at < stream.size(); at += piece) {
        if (!decoder.feed(stream.data() + at, std::min(piece, stream.size() - at)))
            return 0;
        decodeAvailable(decoder);
    }
    return 0;
}
