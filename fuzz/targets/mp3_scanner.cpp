// The MP3 frame scanner fed as a stream arrives. First byte: the size of the pieces.
#include <algorithm>
#include "fuzz/fuzz_input.h"
#include "fuzz/fuzz_target.h"
#include "playback/engine/mp3_scanner.h"

VORNEL_FUZZ_TARGET(mp3_scanner)
{
    vornel::fuzz::FuzzInput input(data, size);
    const size_t piece = 1 + input.byte() * 16u;
    const std::string stream = input.rest();
    vornel::audio::Mp3Scanner scanner;
    for (size_t at = 0; at < stream.size(); at += piece)
        scanner.feed(stream.data() + at, std::min(piece, stream.size() - at));
    scanner.finish();
    (void)scanner.samples();
    return 0;
}
