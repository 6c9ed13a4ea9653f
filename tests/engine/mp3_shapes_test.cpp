// Real-world MP3 shapes, made at test time with lame: each plays through the engine to its
// end with the duration that mpg123 decodes from the same file and the right pitch in each
// part. A hang fails by the test's time-out.
#include "playback/engine/mp3_scanner.h"
#include "tests/engine/engine_test_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace vornel::test {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const fs::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string dataFile(const std::string& name)
{
    return readFile(fs::path(VORNEL_ENGINE_TEST_DATA) / name);
}

// One tone encoded by lame with the given options (rate in Hz).
struct Encoding {
    double frequency;
    double seconds;
    int rate;
    int channels;
    std::string options; // bit rate or VBR choice, tag options
};

std::string syncsafe(size_t n)
{
    std::string bytes;
    for (int shift : {21, 14, 7, 0})
        bytes.push_back(static_cast<char>((n >> shift) & 0x7F));
    return bytes;
}

std::string littleEndian(uint32_t n)
{
    std::string bytes;
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<char>((n >> (8 * i)) & 0xFF));
    return bytes;
}

// An ID3v2.3 tag of one title frame and padding up to size bytes of payload.
std::string id3v2Tag(size_t payload)
{
    std::string frame = "TIT2" + std::string("\0\0\0\x06\0\0", 6) + std::string(1, '\0') + "Title";
    frame.resize(payload, '\0');
    return "ID3" + std::string("\x03\x00\x00", 3) + syncsafe(payload) + frame;
}

std::string id3v1Tag()
{
    std::string tag = "TAG" + std::string("A title");
    tag.resize(128, '\0');
    return tag;
}

// An APEv2 tag with header, one item and footer.
std::string apeTag()
{
    const std::string item = littleEndian(5) + littleEndian(0) + "Title" + std::string(1, '\0') + "Hello";
    auto block = [&](bool header) {
        return "APETAGEX" + littleEndian(2000) + littleEndian(static_cast<uint32_t>(item.size() + 32)) +
               littleEndian(1) + littleEndian(header ? 0xA0000000u : 0x80000000u) + std::string(8, '\0');
    };
    return block(true) + item + block(false);
}

// The first frame of an MP3, taken whole.
std::string firstAudioFrame(const std::string& mp3)
{
    const auto* p = reinterpret_cast<const unsigned char*>(mp3.data());
    const auto header = audio::parseFrameHeader(p);
    return header ? mp3.substr(0, static_cast<size_t>(header->size)) : std::string();
}

struct Part {
    double from, to; // seconds of the output in which the part's tone is heard
    double frequency;
};

struct Shape {
    std::string name;
    std::function<std::string()> make;
    std::vector<Part> parts;
};

class Mp3ShapesTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        std::string pattern = (fs::temp_directory_path() / "vornel-shapes-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override
    {
        fs::remove_all(dir_);
        EngineTest::TearDown();
    }

    std::string encode(const Encoding& e)
    {
        const fs::path raw = dir_ / "in.raw", mp3 = dir_ / "out.mp3";
        writeFile(raw, tonePcm({.frequency = e.frequency,
                                .seconds = e.seconds,
                                .sampleRate = e.rate,
                                .channels = e.channels,
                                .amplitude = 0.5}));
        const std::string kHz = std::to_string(e.rate / 1000.0);
        const std::string command = "lame --quiet -r --signed --little-endian --bitwidth 16 -s " + kHz +
                                    " --resample " + kHz + " -m " + (e.channels == 1 ? "m" : "j") + " " + e.options +
                                    " '" + raw.string() + "' '" + mp3.string() + "' 2>/dev/null";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        return readFile(mp3);
    }

    // Stereo frames at 44.1 kHz that mpg123 decodes from the file, without gapless trimming,
    // as the engine does.
    size_t referenceFrames(const std::string& mp3)
    {
        const fs::path file = dir_ / "ref.mp3";
        writeFile(file, mp3);
        const fs::path raw = dir_ / "ref.raw";
        // Through a pipe: mpg123 starts a regular output file over at a change of format.
        const std::string command = "mpg123 -q --no-gapless -r 44100 --stereo -s '" + file.string() +
                                    "' 2>/dev/null | cat > '" + raw.string() + "'";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        return static_cast<size_t>(fs::file_size(raw) / 4);
    }

    fs::path dir_;
};

TEST_F(Mp3ShapesTest, EachShapePlaysToItsEndAtItsOwnPitchAndDuration)
{
    const Encoding cbr{440, 3, 44100, 2, "--cbr -b 128"};
    const Encoding second48k{660, 2, 48000, 2, "--cbr -b 128"};
    const std::vector<Shape> shapes = {
        {"CBR 128 kbps", [&] { return encode(cbr); }, {{0.3, 2.7, 440}}},
        {"VBR with a Xing header",
         [&] {
             return encode({523, 3, 44100, 2, "-V 4"});
         },
         {{0.3, 2.7, 523}}},
        {"MPEG-2 at 22.05 kHz",
         [&] {
             return encode({440, 3, 22050, 2, "--cbr -b 64"});
         },
         {{0.3, 2.7, 440}}},
        {"MPEG-2.5 at 8 kHz",
         [&] {
             return encode({300, 3, 8000, 1, "--cbr -b 16"});
         },
         {{0.3, 2.7, 300}}},
        {"mono",
         [&] {
             return encode({880, 3, 44100, 1, "--cbr -b 64"});
         },
         {{0.3, 2.7, 880}}},
        {"48 kHz",
         [&] {
             return encode({700, 3, 48000, 2, "--cbr -b 160"});
         },
         {{0.3, 2.7, 700}}},
        {"44.1 kHz followed by 48 kHz",
         [&] { return encode(cbr) + encode(second48k); },
         {{0.3, 2.7, 440}, {3.3, 4.7, 660}}},
        {"MPEG-1 stereo followed by MPEG-2 mono",
         [&] {
             return encode(cbr) + encode({550, 2, 22050, 1, "--cbr -b 32"});
         },
         {{0.3, 2.7, 440}, {3.3, 4.7, 550}}},
        {"a stray 48 kHz frame at the end",
         [&] {
             return encode(cbr) + firstAudioFrame(encode({660, 1, 48000, 2, "--cbr -b 128 -t"}));
         },
         {{0.3, 2.7, 440}}},
        {"a 20 MiB ID3v2 tag", [&] { return id3v2Tag(20 * 1024 * 1024) + encode(cbr); }, {{0.3, 2.7, 440}}},
        {"ID3v1 and APEv2 trailers", [&] { return encode(cbr) + apeTag() + id3v1Tag(); }, {{0.3, 2.7, 440}}},
    };
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(shape.name);
        const std::string mp3 = shape.make();
        ASSERT_FALSE(mp3.empty());
        const size_t reference = referenceFrames(mp3);
        server_.addRoute("/shape.mp3", Route{mp3, "audio/mpeg"});
        const HSTREAM stream = open(server_.url("/shape.mp3"));
        ASSERT_NE(stream, 0u);
        waitForDownload(stream);
        ASSERT_TRUE(BASS_ChannelPlay(stream, false));
        const auto sound = pullToEnd(stream, 60);
        EXPECT_EQ(BASS_ChannelIsActive(stream), BASS_ACTIVE_STOPPED);
        // Rendered in pieces of 4096 frames, the last one partly silent.
        const size_t played = sound.size() / 2;
        EXPECT_GE(played + 64, reference);
        EXPECT_LE(played, reference + 4096 + 64);
        // The position reaches the length, and the length is the time mpg123 decodes.
        const QWORD length = BASS_ChannelGetLength(stream, BASS_POS_BYTE);
        EXPECT_EQ(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), length);
        const double seconds = double(length) / double(BASS_ChannelSeconds2Bytes(stream, 1.0));
        EXPECT_NEAR(seconds, reference / 44100.0, 0.03);
        for (const Part& part : shape.parts) {
            const auto from = static_cast<size_t>(part.from * 44100) * 2, to = static_cast<size_t>(part.to * 44100) * 2;
            ASSERT_LE(to, sound.size());
            const std::vector<int16_t> piece(sound.begin() + static_cast<long>(from),
                                             sound.begin() + static_cast<long>(to));
            for (int channel = 0; channel < 2; ++channel) {
                EXPECT_GT(toneAmplitude(piece, channel, part.frequency), 0.3 * 32767) << part.frequency;
                // A part played at another part's rate would sound a semitone or more away.
                EXPECT_LT(toneAmplitude(piece, channel, part.frequency * 1.06), 0.03 * 32767) << part.frequency;
            }
        }
        BASS_StreamFree(stream);
    }
}

TEST_F(Mp3ShapesTest, TheHostileInputsPlayToTheirEndOrFailCleanly)
{
    struct Case {
        std::string file;
        bool plays;
    };
    for (const Case& c :
         {Case{"mixed-rate-44k-then-48k.mp3", true}, Case{"stray-48k-frame-at-end.mp3", true},
          Case{"mp3-four-frames-44k-then-48k.bin", true}, Case{"mp3-scanner-hang-minimal.bin", false}}) {
        SCOPED_TRACE(c.file);
        const std::string bytes = dataFile(c.file);
        ASSERT_FALSE(bytes.empty());
        server_.addRoute("/input.mp3", Route{bytes, "audio/mpeg"});
        const HSTREAM stream =
            BASS_StreamCreateURL(server_.url("/input.mp3").c_str(), 0,
                                 BASS_STREAM_STATUS | BASS_STREAM_AUTOFREE | BASS_STREAM_PRESCAN, nullptr, nullptr);
        if (!c.plays) {
            EXPECT_EQ(stream, 0u);
            EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FORMAT);
            continue;
        }
        ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
        // Length and position answer at once while the stream downloads and decodes.
        EXPECT_NE(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), static_cast<QWORD>(-1));
        BASS_ChannelGetLength(stream, BASS_POS_BYTE);
        waitForDownload(stream);
        const size_t reference = referenceFrames(bytes);
        ASSERT_TRUE(BASS_ChannelPlay(stream, false));
        const size_t played = pullToEnd(stream, 60).size() / 2;
        EXPECT_EQ(BASS_ChannelIsActive(stream), BASS_ACTIVE_STOPPED);
        EXPECT_GE(played + 64, reference);
        EXPECT_LE(played, reference + 4096 + 64);
        EXPECT_EQ(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), BASS_ChannelGetLength(stream, BASS_POS_BYTE));
    }
}

} // namespace
} // namespace vornel::test
