// The ICY metadata stripper. Two bytes of metadata interval, one of piece size, then the
#include <algorithm>
// stream; the audio it passes on must add up to what the stream held besides metadata.
#include "fuzz/fuzz_input.h"
#include "fuzz/fuzz_target.h"
#include "playback/engine/icy_stripper.h"

#include <cstdlib>

VORNEL_FUZZ_TARGET(icy_stripper)
{
    vornel::fuzz::FuzzInput input(data, size);
    const int64_t interval = static_cast<int64_t>(input.number(2));
    const size_t piece = 1 + input.byte();
    const std::string stream = input.rest();
    vornel::audio::IcyStripper stripper(interval);
    size_t audio = 0;
    for (size_t at = 0; at < stream.size(); at += piece)
        stripper.strip(stream.data() + at, std::min(piece, stream.size() - at),
                       [&](const char*, size_t count) { audio += count; });
    if (audio > stream.size())
        std::abort(); // more audio out than bytes in
    (void)stripper.lastMetadata();
    return 0;
}
