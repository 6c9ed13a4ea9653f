#pragma once
// Decoding of the loading animation (a GIF picture) and composition of its frames.
#include <cstdint>
#include <string>
#include <vector>

namespace vornel::app {

struct GifFrame {
    int left = 0, top = 0, width = 0, height = 0;
    int delayHundredths = 0;
    int disposal = 0;
    int transparentIndex = -1;     // -1: no transparent colour
    std::vector<uint32_t> colours; // 0xRRGGBB, the local table or else the global one
    std::vector<uint8_t> indices;  // width * height colour indices, rows top to bottom
};

struct GifPicture {
    int width = 0, height = 0;
    int globalTableSize = 0;
    int backgroundIndex = 0;
    int loopCount = -1; // from the NETSCAPE2.0 extension; -1 when absent
    std::vector<GifFrame> frames;
};

// Throws std::runtime_error when bytes are not a GIF that can be decoded.
GifPicture decodeGif(const std::string& bytes);

// How long a frame stays up: its delay, at least 50 ms and at most 10000 ms.
int frameDurationMs(const GifFrame& frame);

// The picture as shown so far: each frame is drawn over the previous result, its
// transparent pixels leaving what lies below.
class GifCanvas {
public:
    GifCanvas(const GifPicture& picture, uint32_t emptyColour);
    void draw(const GifFrame& frame);
    const std::vector<uint32_t>& pixels() const { return pixels_; } // 0xRRGGBB, row-major
    int width() const { return width_; }
    int height() const { return height_; }

private:
    void disposePrevious();

    int width_, height_;
    uint32_t emptyColour_;
    std::vector<uint32_t> pixels_;
    std::vector<uint32_t> beforePrevious_;
    const GifFrame* previous_ = nullptr;
};

} // namespace vornel::app
