// Cutting the audio address out of an entry page.
#include "fuzz/fuzz_target.h"
#include "playback/track_resolution.h"
#include "text/ascii.h"

#include <string>

VORNEL_FUZZ_TARGET(track_url)
{
    const std::string page(reinterpret_cast<const char*>(data), size);
    if (const auto url = vornel::playback::cutTrackUrl(page))
        (void)vornel::text::trimmed(*url);
    (void)vornel::text::trimmed(page);
    return 0;
}
