#include "app/loading_gif.h"

#include <gtest/gtest.h>

#include <QFile>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <unistd.h>

namespace {

using vornel::app::decodeGif;
using vornel::app::frameDurationMs;
using vornel::app::GifCanvas;
using vornel::app::GifFrame;
using vornel::app::GifPicture;

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
    int word() { int low = byte(); return low | (byte() << 8); }
    std::string take(size_t n) { std::string s = bytes.substr(at, n); at += n; return s; }
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
        if (code == clear) { reset(); width = minCodeSize + 1; previous.clear(); continue; }
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

TEST(LoadingGif, StructureOfTheCommittedPicture)
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

    const ExpectedFrame expected[] = {
        {0, 0, 400, 300}, {99, 52, 206, 200}, {134, 104, 145, 125}, {134, 104, 149, 134}};
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

TEST(LoadingGif, CommittedPictureIsWhatTheGeneratorWrites)
{
    const auto fresh = std::filesystem::temp_directory_path() /
                       ("loading-gif-test-" + std::to_string(getpid()) + ".gif");
    const std::string command = "python3 '" + kAssets + "/make_loading_gif.py' '" + fresh.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::string made = readFile(fresh.string());
    std::filesystem::remove(fresh);
    EXPECT_TRUE(made == readFile(kAssets + "/loading.gif"));
}

TEST(LoadingGif, CompiledInResourceIsTheAsset)
{
    QFile resource(QStringLiteral(":/loading.gif"));
    ASSERT_TRUE(resource.open(QIODevice::ReadOnly));
    EXPECT_TRUE(resource.readAll().toStdString() == readFile(kAssets + "/loading.gif"));
}

TEST(LoadingGif, FramesComposeOverTheResultSoFar)
{
    const GifPicture picture = decodeGif(readFile(kAssets + "/loading.gif"));
    ASSERT_EQ(picture.frames.size(), 4u);
    GifCanvas canvas(picture, 0x2C2A26);
    canvas.draw(picture.frames[0]);
    const GifFrame& first = picture.frames[0];
    for (size_t i = 0; i < first.indices.size(); ++i)
        ASSERT_EQ(canvas.pixels()[i], first.colours[first.indices[i]]);

    for (size_t f = 1; f < 4; ++f) {
        const std::vector<uint32_t> before = canvas.pixels();
        const GifFrame& frame = picture.frames[f];
        canvas.draw(frame);
        size_t changed = 0;
        for (int y = 0; y < picture.height; ++y)
            for (int x = 0; x < picture.width; ++x) {
                const size_t at = static_cast<size_t>(y) * picture.width + x;
                const bool inside = x >= frame.left && x < frame.left + frame.width &&
                                    y >= frame.top && y < frame.top + frame.height;
                const int index = inside ? frame.indices[static_cast<size_t>(y - frame.top) * frame.width + (x - frame.left)] : -1;
                const uint32_t want = (!inside || index == 141) ? before[at] : frame.colours[index];
                ASSERT_EQ(canvas.pixels()[at], want) << "frame " << f + 1 << " at " << x << "," << y;
                changed += canvas.pixels()[at] != before[at];
            }
        EXPECT_GT(changed, 0u) << "frame " << f + 1 << " moves the cat";
    }
}

TEST(LoadingGif, DelaysAreClampedTo50And10000Ms)
{
    const std::pair<int, int> cases[] = {{0, 50}, {4, 50}, {5, 50}, {7, 70}, {100, 1000},
                                         {1000, 10000}, {1001, 10000}, {65535, 10000}};
    for (const auto& [hundredths, ms] : cases) {
        GifFrame frame;
        frame.delayHundredths = hundredths;
        EXPECT_EQ(frameDurationMs(frame), ms) << hundredths;
    }
}

TEST(LoadingGif, DamagedPicturesAreRefusedNotMisread)
{
    const std::string bytes = readFile(kAssets + "/loading.gif");
    EXPECT_THROW(decodeGif(""), std::runtime_error);
    EXPECT_THROW(decodeGif("PNG89a"), std::runtime_error);
    std::string huge = bytes.substr(0, 13);
    huge[6] = huge[7] = huge[8] = huge[9] = '\xFF';
    EXPECT_THROW(decodeGif(huge + bytes.substr(13)), std::runtime_error);
    // Cut anywhere before the trailer: refused, never a crash or a hang.
    for (size_t length = 0; length + 1 < bytes.size(); length += 97)
        EXPECT_THROW(decodeGif(bytes.substr(0, length)), std::runtime_error) << length;
}

} // namespace
