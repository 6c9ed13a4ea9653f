// The loading animation's GIF decoder, and the composition of every frame it yields.
#include "gif/gif_picture.h"
#include "fuzz/fuzz_target.h"

#include <stdexcept>

using namespace vornel::gif;

VORNEL_FUZZ_TARGET(loading_gif)
{
    GifPicture picture;
    try {
        picture = decodeGif(std::string(reinterpret_cast<const char*>(data), size));
    } catch (const std::runtime_error&) {
        return 0;
    }
    GifCanvas canvas(picture, 0x202020);
    for (const GifFrame& frame : picture.frames) {
        canvas.draw(frame);
        (void)frameDurationMs(frame);
    }
    return 0;
}
