#pragma once
// A GIF animation (the loading overlay's) decoded by Qt's GIF reader, and the composition
// of its frames over a background colour. Decoding and drawing need no GUI thread.
#include <QImage>

#include <cstdint>
#include <string>
#include <vector>

namespace vornel::gif {

struct GifFrame {
    QImage image;    // the whole picture as it stands at this frame, ARGB32; alpha 0 where nothing was drawn
    int delayMs = 0; // as the file gives it
};

struct GifPicture {
    int width = 0, height = 0;
    std::vector<GifFrame> frames;
};

// Bounds on what one picture may make the program hold: a hostile GIF could otherwise
// ask for a huge screen or a flood of frames.
constexpr int64_t kMaxGifPixels = 4096 * 4096;
constexpr int64_t kMaxGifPixelsInAllFrames = 32 * 1024 * 1024;
constexpr int kMaxGifFrames = 1000;

// Throws std::runtime_error when bytes are not a GIF that can be decoded, or when it goes
// beyond the bounds above. A picture cut short keeps the frames that arrived.
GifPicture decodeGif(const std::string& bytes);

// How long a frame stays up: its delay, at least 50 ms and at most 10000 ms.
int frameDurationMs(const GifFrame& frame);

// The picture as shown at the frame drawn last, over a background colour where the
// picture leaves it transparent.
class GifCanvas {
public:
    GifCanvas(const GifPicture& picture, uint32_t emptyColour);
    void draw(const GifFrame& frame);
    const std::vector<uint32_t>& pixels() const { return pixels_; } // 0xRRGGBB, row-major
    int width() const { return width_; }
    int height() const { return height_; }

private:
    int width_, height_;
    uint32_t emptyColour_;
    std::vector<uint32_t> pixels_;
};

} // namespace vornel::gif
