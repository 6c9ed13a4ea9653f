#include "app/loading_gif.h"

#include <algorithm>
#include <stdexcept>

namespace vornel::app {

namespace {

constexpr int64_t kMaxPixels = 4096 * 4096;

class Reader {
public:
    explicit Reader(const std::string& bytes) : bytes_(bytes) {}

    uint8_t byte()
    {
        if (at_ >= bytes_.size())
            throw std::runtime_error("The GIF picture ends early");
        return static_cast<uint8_t>(bytes_[at_++]);
    }
    int word()
    {
        const int low = byte();
        return low | (byte() << 8);
    }
    std::string text(size_t count)
    {
        std::string out;
        for (size_t i = 0; i < count; ++i)
            out += static_cast<char>(byte());
        return out;
    }
    std::string subBlocks()
    {
        std::string data;
        for (uint8_t size = byte(); size != 0; size = byte())
            data += text(size);
        return data;
    }

private:
    const std::string& bytes_;
    size_t at_ = 0;
};

std::vector<uint32_t> colourTable(Reader& in, int entries)
{
    std::vector<uint32_t> colours(static_cast<size_t>(entries));
    for (uint32_t& colour : colours) {
        const uint32_t r = in.byte(), g = in.byte(), b = in.byte();
        colour = (r << 16) | (g << 8) | b;
    }
    return colours;
}

std::vector<uint8_t> lzwDecode(const std::string& data, int minCodeSize, size_t pixelCount)
{
    if (minCodeSize < 2 || minCodeSize > 8)
        throw std::runtime_error("The GIF picture has a bad code size");
    const int clear = 1 << minCodeSize, end = clear + 1;
    std::vector<int> prefix(4096, -1);
    std::vector<uint8_t> suffix(4096), stack;
    for (int i = 0; i < clear; ++i)
        suffix[i] = static_cast<uint8_t>(i);
    std::vector<uint8_t> out;
    out.reserve(pixelCount);
    int width = minCodeSize + 1, next = end + 1, previous = -1;
    uint32_t bits = 0;
    int bitCount = 0;
    uint8_t first = 0;
    for (size_t at = 0; at < data.size() && out.size() < pixelCount;) {
        while (bitCount < width && at < data.size()) {
            bits |= static_cast<uint32_t>(static_cast<uint8_t>(data[at++])) << bitCount;
            bitCount += 8;
        }
        if (bitCount < width)
            break;
        const int code = static_cast<int>(bits & ((1u << width) - 1));
        bits >>= width;
        bitCount -= width;
        if (code == clear) {
            width = minCodeSize + 1;
            next = end + 1;
            previous = -1;
            continue;
        }
        if (code == end)
            break;
        if (previous < 0 && code >= clear)
            throw std::runtime_error("The GIF picture's data is damaged");
        if (code > next || (code == next && previous < 0))
            throw std::runtime_error("The GIF picture's data is damaged");
        int walk = code;
        if (code == next) {
            stack.push_back(first);
            walk = previous;
        }
        while (walk >= clear) {
            stack.push_back(suffix[walk]);
            walk = prefix[walk];
        }
        stack.push_back(suffix[walk]);
        first = suffix[walk];
        for (auto it = stack.rbegin(); it != stack.rend() && out.size() < pixelCount; ++it)
            out.push_back(*it);
        stack.clear();
        if (previous >= 0 && next < 4096) {
            prefix[next] = previous;
            suffix[next] = first;
            ++next;
            if (next == (1 << width) && width < 12)
                ++width;
        }
        previous = code;
    }
    return out;
}

std::vector<uint8_t> deinterlaced(const std::vector<uint8_t>& rows, int width, int height)
{
    std::vector<uint8_t> out(rows.size());
    const int starts[] = {0, 4, 2, 1}, steps[] = {8, 8, 4, 2};
    size_t from = 0;
    for (int pass = 0; pass < 4; ++pass)
        for (int y = starts[pass]; y < height; y += steps[pass], from += width)
            std::copy_n(rows.begin() + from, width, out.begin() + static_cast<size_t>(y) * width);
    return out;
}

struct FrameControl {
    int delay = 0, disposal = 0, transparent = -1;
};

void readExtension(Reader& in, GifPicture& picture, FrameControl& control)
{
    const uint8_t label = in.byte();
    const std::string data = in.subBlocks();
    if (label == 0xF9 && data.size() >= 4) {
        const uint8_t packed = static_cast<uint8_t>(data[0]);
        control.disposal = (packed >> 2) & 7;
        control.delay = static_cast<uint8_t>(data[1]) | (static_cast<uint8_t>(data[2]) << 8);
        control.transparent = (packed & 1) ? static_cast<uint8_t>(data[3]) : -1;
    } else if (label == 0xFF && data.size() >= 14 && data.compare(0, 11, "NETSCAPE2.0") == 0 &&
               data[11] == 1) {
        picture.loopCount = static_cast<uint8_t>(data[12]) | (static_cast<uint8_t>(data[13]) << 8);
    }
}

GifFrame readImage(Reader& in, const std::vector<uint32_t>& globalColours, FrameControl control)
{
    GifFrame frame;
    frame.left = in.word();
    frame.top = in.word();
    frame.width = in.word();
    frame.height = in.word();
    if (static_cast<int64_t>(frame.width) * frame.height > kMaxPixels)
        throw std::runtime_error("The GIF picture's frame is too large");
    const uint8_t packed = in.byte();
    frame.colours = (packed & 0x80) ? colourTable(in, 2 << (packed & 7)) : globalColours;
    frame.delayHundredths = control.delay;
    frame.disposal = control.disposal;
    frame.transparentIndex = control.transparent;
    const int minCodeSize = in.byte();
    const size_t pixelCount = static_cast<size_t>(frame.width) * frame.height;
    frame.indices = lzwDecode(in.subBlocks(), minCodeSize, pixelCount);
    const uint8_t fill = control.transparent >= 0 ? static_cast<uint8_t>(control.transparent) : 0;
    frame.indices.resize(pixelCount, fill);
    if (packed & 0x40)
        frame.indices = deinterlaced(frame.indices, frame.width, frame.height);
    return frame;
}

} // namespace

GifPicture decodeGif(const std::string& bytes)
{
    Reader in(bytes);
    const std::string signature = in.text(6);
    if (signature != "GIF89a" && signature != "GIF87a")
        throw std::runtime_error("Not a GIF picture");
    GifPicture picture;
    picture.width = in.word();
    picture.height = in.word();
    if (static_cast<int64_t>(picture.width) * picture.height > kMaxPixels)
        throw std::runtime_error("The GIF picture is too large");
    const uint8_t packed = in.byte();
    picture.backgroundIndex = in.byte();
    in.byte(); // pixel aspect ratio
    std::vector<uint32_t> globalColours;
    if (packed & 0x80) {
        picture.globalTableSize = 2 << (packed & 7);
        globalColours = colourTable(in, picture.globalTableSize);
    }
    FrameControl control;
    for (uint8_t block = in.byte(); block != 0x3B; block = in.byte()) {
        if (block == 0x21) {
            readExtension(in, picture, control);
        } else if (block == 0x2C) {
            picture.frames.push_back(readImage(in, globalColours, control));
            control = FrameControl();
        } else {
            throw std::runtime_error("The GIF picture holds an unknown block");
        }
    }
    if (picture.frames.empty())
        throw std::runtime_error("The GIF picture has no frames");
    return picture;
}

int frameDurationMs(const GifFrame& frame)
{
    return std::clamp(frame.delayHundredths * 10, 50, 10000);
}

GifCanvas::GifCanvas(const GifPicture& picture, uint32_t emptyColour)
    : width_(picture.width), height_(picture.height), emptyColour_(emptyColour),
      pixels_(static_cast<size_t>(picture.width) * picture.height, emptyColour)
{
}

void GifCanvas::disposePrevious()
{
    if (!previous_)
        return;
    const GifFrame& f = *previous_;
    if (f.disposal == 3 && beforePrevious_.size() == pixels_.size()) {
        pixels_ = beforePrevious_;
    } else if (f.disposal == 2) {
        for (int y = std::max(0, f.top); y < std::min(height_, f.top + f.height); ++y)
            for (int x = std::max(0, f.left); x < std::min(width_, f.left + f.width); ++x)
                pixels_[static_cast<size_t>(y) * width_ + x] = emptyColour_;
    }
}

void GifCanvas::draw(const GifFrame& frame)
{
    disposePrevious();
    if (frame.disposal == 3)
        beforePrevious_ = pixels_;
    for (int y = 0; y < frame.height; ++y) {
        const int canvasY = frame.top + y;
        if (canvasY < 0 || canvasY >= height_)
            continue;
        for (int x = 0; x < frame.width; ++x) {
            const int canvasX = frame.left + x;
            const int index = frame.indices[static_cast<size_t>(y) * frame.width + x];
            if (canvasX < 0 || canvasX >= width_ || index == frame.transparentIndex ||
                index >= static_cast<int>(frame.colours.size()))
                continue;
            pixels_[static_cast<size_t>(canvasY) * width_ + canvasX] = frame.colours[index];
        }
    }
    previous_ = &frame;
}

} // namespace vornel::app
