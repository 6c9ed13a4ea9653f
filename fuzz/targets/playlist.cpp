// A .pls or .m3u reply: "content type \n playlist URL \n body".
#include "fuzz/fuzz_input.h"
#include "fuzz/fuzz_target.h"
#include "playback/engine/playlist.h"

VORNEL_FUZZ_TARGET(playlist)
{
    vornel::fuzz::FuzzInput input(data, size);
    const std::string contentType = input.textUntil('\n');
    const std::string url = input.textUntil('\n');
    const std::string body = input.rest();
    (void)vornel::audio::looksLikePlaylist(contentType, url, body.substr(0, 512));
    (void)vornel::audio::startsLikePlaylist(body);
    (void)vornel::audio::playlistEntries(body, url);
    return 0;
}
