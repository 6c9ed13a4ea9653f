#include "gif/gif_picture.h"

#include <gtest/gtest.h>

#include <QImage>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <unistd.h>

namespace {

using vornel::gif::decodeGif;
using vornel::gif::frameDurationMs;
using vornel::gif::GifCanvas;
using vornel::gif::GifFrame;
using vornel::gif::GifPicture;

const std::string kAssets = VORNEL_ASSETS_DIR;

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A reading of the file's blocks that shares nothing with the player's decoder.
struct Cursor {
    const std::string& bytes;
    size_t at = 0;
    int byte() { return static_cast<uint8_t>(bytes.at(at++)); }
    int word()
    {
        int low = byte();
        return low | (byte() << 8);
    }
    std::string take(size_t n)
    {
        std::string s = bytes.substr(at, n);
        at += n;
        return s;
    }
    std::string blocks()
    {
        std::string out;
        for (int n = byte(); n != 0; n = byte())
            out += take(static_cast<size_t>(n));
        return out;
    }
};

// Plain LZW decoding with no padding: the count it yields is the count the data holds.
std::vector<int> lzwIndices(const std::string& data, int minCodeSize)
{
    const int clear = 1 << minCodeSize, end = clear + 1;
    std::vector<std::vector<int>> table;
    auto reset = [&] {
        table.assign(static_cast<size_t>(end + 1), {});
        for (int i = 0; i < clear; ++i)
            table[static_cast<size_t>(i)] = {i};
    };
    reset();
    std::vector<int> out, previous;
    int width = minCodeSize + 1;
    size_t bit = 0;
    while (bit + static_cast<size_t>(width) <= data.size() * 8) {
        int code = 0;
        for (int i = 0; i < width; ++i, ++bit)
            code |= ((static_cast<uint8_t>(data[bit / 8]) >> (bit % 8)) & 1) << i;
        if (code == clear) {
            reset();
            width = minCodeSize + 1;
            previous.clear();
            continue;
        }
        if (code == end)
            return out;
        std::vector<int> entry;
        if (code < static_cast<int>(table.size()) && !table[static_cast<size_t>(code)].empty())
            entry = table[static_cast<size_t>(code)];
        else if (code == static_cast<int>(table.size()) && !previous.empty())
            entry = previous, entry.push_back(previous[0]);
        else
            throw std::runtime_error("bad code");
        out.insert(out.end(), entry.begin(), entry.end());
        if (!previous.empty() && table.size() < 4096) {
            previous.push_back(entry[0]);
            table.push_back(previous);
            if (table.size() == (1u << width) && width < 12)
                ++width;
        }
        previous = entry;
    }
    throw std::runtime_error("no end code");
}

struct ExpectedFrame {
    int left, top, width, height;
};

TEST(GifPicture, StructureOfTheCommittedPicture)
{
    const std::string bytes = readFile(kAssets + "/loading.gif");
    ASSERT_FALSE(bytes.empty());
    Cursor in{bytes};
    EXPECT_EQ(in.take(6), "GIF89a");
    EXPECT_EQ(in.word(), 400);
    EXPECT_EQ(in.word(), 300);
    const int packed = in.byte();
    EXPECT_TRUE(packed & 0x80) << "global colour table";
    EXPECT_EQ(2 << (packed & 7), 256);
    EXPECT_EQ(in.byte(), 141) << "background index";
    in.byte();
    const std::string table = in.take(768);
    EXPECT_EQ(table.substr(141 * 3, 3), std::string(3, '\0')) << "index 141 is black";

    const ExpectedFrame expected[] = {{0, 0, 400, 300}, {99, 52, 206, 200}, {134, 104, 145, 125}, {134, 104, 149, 134}};
    bool looping = false;
    int loopCount = -1;
    size_t frame = 0;
    int delay = -1, disposal = -1, transparent = -1;
    for (int block = in.byte(); block != 0x3B; block = in.byte()) {
        if (block == 0x21) {
            const int label = in.byte();
            const std::string data = in.blocks();
            if (label == 0xFF && data.substr(0, 11) == "NETSCAPE2.0") {
                looping = true;
                loopCount = static_cast<uint8_t>(data.at(12)) | (static_cast<uint8_t>(data.at(13)) << 8);
            } else if (label == 0xF9) {
                const int flags = static_cast<uint8_t>(data.at(0));
                disposal = (flags >> 2) & 7;
                delay = static_cast<uint8_t>(data.at(1)) | (static_cast<uint8_t>(data.at(2)) << 8);
                transparent = (flags & 1) ? static_cast<uint8_t>(data.at(3)) : -1;
            }
            continue;
        }
        ASSERT_EQ(block, 0x2C);
        ASSERT_LT(frame, 4u);
        SCOPED_TRACE("frame " + std::to_string(frame + 1));
        EXPECT_EQ(in.word(), expected[frame].left);
        EXPECT_EQ(in.word(), expected[frame].top);
        const int width = in.word(), height = in.word();
        EXPECT_EQ(width, expected[frame].width);
        EXPECT_EQ(height, expected[frame].height);
        EXPECT_FALSE(in.byte() & 0x80) << "no local colour table";
        EXPECT_EQ(delay, 7);
        EXPECT_EQ(disposal, 1);
        EXPECT_EQ(transparent, 141);
        const int minCodeSize = in.byte();
        const std::vector<int> indices = lzwIndices(in.blocks(), minCodeSize);
        EXPECT_EQ(indices.size(), static_cast<size_t>(width) * height);
        const auto used141 = std::count(indices.begin(), indices.end(), 141);
        if (frame == 0)
            EXPECT_EQ(used141, 0) << "the first frame is opaque";
        else
            EXPECT_GT(used141, 0) << "later frames leave unchanged pixels transparent";
        ++frame;
        delay = disposal = transparent = -1;
    }
    EXPECT_EQ(frame, 4u);
    EXPECT_TRUE(looping);
    EXPECT_EQ(loopCount, 0);
    EXPECT_EQ(in.at, bytes.size()) << "nothing after the trailer";
}

TEST(GifPicture, CommittedPictureIsWhatTheGeneratorWrites)
{
    const auto fresh =
        std::filesystem::temp_directory_path() / ("loading-gif-test-" + std::to_string(getpid()) + ".gif");
    const std::string command = "python3 '" + kAssets + "/make_loading_gif.py' '" + fresh.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::string made = readFile(fresh.string());
    std::filesystem::remove(fresh);
    EXPECT_TRUE(made == readFile(kAssets + "/loading.gif"));
}

// The committed picture as the file's own blocks say it looks after each frame: the test's
// LZW reading, the global colour table, index 141 transparent, nothing ever disposed.
std::vector<std::vector<uint32_t>> independentlyComposedFrames(const std::string& bytes, uint32_t empty)
{
    Cursor in{bytes};
    in.take(6);
    const int width = in.word(), height = in.word();
    in.take(3);
    const std::string table = in.take(768);
    std::vector<uint32_t> canvas(static_cast<size_t>(width) * height, empty);
    std::vector<std::vector<uint32_t>> frames;
    for (int block = in.byte(); block != 0x3B; block = in.byte()) {
        if (block == 0x21) {
            in.byte();
            in.blocks();
            continue;
        }
        const int left = in.word(), top = in.word(), w = in.word(), h = in.word();
        in.byte();
        const int minCodeSize = in.byte();
        const std::vector<int> indices = lzwIndices(in.blocks(), minCodeSize);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const int index = indices[static_cast<size_t>(y) * w + x];
                if (index == 141)
                    continue;
                const auto rgb = [&](int c) {
                    return static_cast<uint32_t>(static_cast<uint8_t>(table[index * 3 + c]));
                };
                canvas[static_cast<size_t>(top + y) * width + left + x] = (rgb(0) << 16) | (rgb(1) << 8) | rgb(2);
            }
        frames.push_back(canvas);
    }
    return frames;
}

TEST(GifPicture, QtDecodesTheSameFramesAndDelaysAsTheFileHolds)
{
    const std::string bytes = readFile(kAssets + "/loading.gif");
    const GifPicture picture = decodeGif(bytes);
    EXPECT_EQ(picture.width, 400);
    EXPECT_EQ(picture.height, 300);
    const auto expected = independentlyComposedFrames(bytes, 0x2C2A26);
    ASSERT_EQ(expected.size(), 4u);
    ASSERT_EQ(picture.frames.size(), 4u);
    GifCanvas canvas(picture, 0x2C2A26);
    for (size_t f = 0; f < 4; ++f) {
        EXPECT_EQ(picture.frames[f].delayMs, 70) << "frame " << f + 1;
        canvas.draw(picture.frames[f]);
        EXPECT_TRUE(canvas.pixels() == expected[f]) << "frame " << f + 1;
        if (f > 0) {
            EXPECT_FALSE(expected[f] == expected[f - 1]) << "frame " << f + 1 << " moves the cat";
        }
    }
}

TEST(GifPicture, CanvasShowsTheBackgroundWhereThePictureIsTransparent)
{
    QImage image(3, 1, QImage::Format_ARGB32);
    image.setPixel(0, 0, 0x00FF0000u);
    image.setPixel(1, 0, 0xFF112233u);
    image.setPixel(2, 0, 0x00000000u);
    const GifPicture picture{3, 1, {GifFrame{image, 70}}};
    GifCanvas canvas(picture, 0x2C2A26);
    canvas.draw(picture.frames[0]);
    EXPECT_EQ(canvas.pixels(), (std::vector<uint32_t>{0x2C2A26, 0x112233, 0x2C2A26}));
}

TEST(GifPicture, DelaysAreClampedTo50And10000Ms)
{
    const std::pair<int, int> cases[] = {{0, 50},      {40, 50},       {50, 50},       {70, 70},
                                         {1000, 1000}, {10000, 10000}, {10010, 10000}, {655350, 10000}};
    for (const auto& [delay, ms] : cases) {
        GifFrame frame;
        frame.delayMs = delay;
        EXPECT_EQ(frameDurationMs(frame), ms) << delay;
    }
}

// A GIF of the given screen size with `frames` one-pixel frames of colour index 0.
std::string tinyFramesGif(int width, int height, int frames)
{
    std::string gif = "GIF89a";
    gif += {static_cast<char>(width & 0xFF),
            static_cast<char>(width >> 8),
            static_cast<char>(height & 0xFF),
            static_cast<char>(height >> 8),
            '\x80',
            '\0',
            '\0'};
    gif += std::string("\x10\x20\x30\x40\x50\x60", 6);
    const std::string frame("\x2C\0\0\0\0\x01\0\x01\0\0\x02\x02\x44\x01\0", 15);
    for (int i = 0; i < frames; ++i)
        gif += frame;
    return gif + '\x3B';
}

TEST(GifPicture, PicturesBeyondTheBoundsAreRefused)
{
    const GifPicture small = decodeGif(tinyFramesGif(1, 1, 3));
    ASSERT_EQ(small.frames.size(), 3u);
    EXPECT_EQ(small.frames[0].image.pixel(0, 0), 0xFF102030u);
    EXPECT_THROW(decodeGif(tinyFramesGif(1, 1, vornel::gif::kMaxGifFrames + 1)), std::runtime_error);
    EXPECT_THROW(decodeGif(tinyFramesGif(4096, 4096, 3)), std::runtime_error);
    EXPECT_THROW(decodeGif(tinyFramesGif(8192, 8192, 1)), std::runtime_error);
}

TEST(GifPicture, DamagedPicturesAreRefusedOrCutShort)
{
    const std::string bytes = readFile(kAssets + "/loading.gif");
    EXPECT_THROW(decodeGif(""), std::runtime_error);
    EXPECT_THROW(decodeGif("PNG89a"), std::runtime_error);
    EXPECT_THROW(decodeGif(bytes.substr(0, 13)), std::runtime_error);
    // Cut anywhere: refused, or the frames that arrived at the picture's size; never a
    // crash or a hang.
    for (size_t length = 0; length + 1 < bytes.size(); length += 97) {
        try {
            const GifPicture cut = decodeGif(bytes.substr(0, length));
            EXPECT_LE(cut.frames.size(), 4u) << length;
            for (const GifFrame& frame : cut.frames)
                EXPECT_EQ(frame.image.size(), QSize(400, 300)) << length;
        } catch (const std::runtime_error&) {}
    }
}

// A 4096 x 4096 picture of `frames` full-size frames whose data is only a clear code and an
// end code: a few bytes each, however large the frames are.
std::string fullSizeEmptyFrames(int frames)
{
    std::string gif = "GIF89a";
    gif += std::string("\x00\x10\x00\x10\x80\x00\x00", 7); // 4096 x 4096, 2 colours
    gif += std::string("\x00\x00\x00\xff\xff\xff", 6);
    for (int i = 0; i < frames; ++i) {
        gif += std::string("\x2c\x00\x00\x00\x00\x00\x10\x00\x10\x00", 10);
        gif += std::string("\x02\x01\x2c\x00", 4); // code size 2; codes 4 (clear), 5 (end)
    }
    return gif + ";";
}

TEST(GifPicture, WorkIsBoundedWhateverTheFileSize)
{
    const GifPicture one = decodeGif(fullSizeEmptyFrames(1));
    ASSERT_EQ(one.frames.size(), 1u);
    EXPECT_EQ(one.frames[0].image.size(), QSize(4096, 4096));

    const std::string many = fullSizeEmptyFrames(80);
    EXPECT_LT(many.size(), 2000u);
    EXPECT_THROW(decodeGif(many), std::runtime_error) << "80 full-size frames were decoded";
}

} // namespace
