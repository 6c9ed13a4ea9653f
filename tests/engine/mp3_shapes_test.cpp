// Real-world MP3 shapes, made at test time with lame: each plays through the engine to its
// end with the duration that mpg123 decodes from the same file and the right pitch in each
// part. A hang fails by the test's time-out.
#include "playback/engine/mp3_scanner.h"
#include "tests/engine/engine_test_support.h"
#include "tests/support/folder_files.h"
#include "tests/support/temp_folder.h"

#include <cstdlib>
#include <filesystem>

namespace vornel::test {
namespace {

namespace fs = std::filesystem;

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

// The tone as lame encodes it, made in the given folder.
std::string encode(const TempFolder& folder, const Encoding& e)
{
    const std::string raw = folder.file("in.raw"), mp3 = folder.file("out.mp3");
    writeText(raw, tonePcm({.frequency = e.frequency,
                            .seconds = e.seconds,
                            .sampleRate = e.rate,
                            .channels = e.channels,
                            .amplitude = 0.5}));
    const std::string kHz = std::to_string(e.rate / 1000.0);
    const std::string command = "lame --quiet -r --signed --little-endian --bitwidth 16 -s " + kHz + " --resample " +
                                kHz + " -m " + (e.channels == 1 ? "m" : "j") + " " + e.options + " '" + raw + "' '" +
                                mp3 + "' 2>/dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return readText(mp3);
}

// Stereo frames at 44.1 kHz that mpg123 decodes from the file, without gapless trimming, as
// the engine does.
size_t referenceFrames(const TempFolder& folder, const std::string& mp3)
{
    const std::string file = folder.file("ref.mp3"), raw = folder.file("ref.raw");
    writeText(file, mp3);
    // Through a pipe: mpg123 starts a regular output file over at a change of format.
    const std::string command =
        "mpg123 -q --no-gapless -r 44100 --stereo -s '" + file + "' 2>/dev/null | cat > '" + raw + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return static_cast<size_t>(fs::file_size(raw) / 4);
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
    const char* name; // letters and digits: the case's name
    std::function<std::string(const TempFolder&)> make;
    std::vector<Part> parts;
};

void PrintTo(const Shape& shape, std::ostream* out)
{
    *out << shape.name;
}

const Encoding kCbr{440, 3, 44100, 2, "--cbr -b 128"};

const Shape kShapes[] = {
    {"Cbr128kbps", [](const TempFolder& f) { return encode(f, kCbr); }, {{0.3, 2.7, 440}}},
    {"VbrWithAXingHeader",
     [](const TempFolder& f) {
         return encode(f, {523, 3, 44100, 2, "-V 4"});
     },
     {{0.3, 2.7, 523}}},
    {"Mpeg2At22kHz",
     [](const TempFolder& f) {
         return encode(f, {440, 3, 22050, 2, "--cbr -b 64"});
     },
     {{0.3, 2.7, 440}}},
    {"Mpeg25At8kHz",
     [](const TempFolder& f) {
         return encode(f, {300, 3, 8000, 1, "--cbr -b 16"});
     },
     {{0.3, 2.7, 300}}},
    {"Mono",
     [](const TempFolder& f) {
         return encode(f, {880, 3, 44100, 1, "--cbr -b 64"});
     },
     {{0.3, 2.7, 880}}},
    {"At48kHz",
     [](const TempFolder& f) {
         return encode(f, {700, 3, 48000, 2, "--cbr -b 160"});
     },
     {{0.3, 2.7, 700}}},
    {"At44kHzFollowedBy48kHz",
     [](const TempFolder& f) {
         return encode(f, kCbr) + encode(f, {660, 2, 48000, 2, "--cbr -b 128"});
     },
     {{0.3, 2.7, 440}, {3.3, 4.7, 660}}},
    {"Mpeg1StereoFollowedByMpeg2Mono",
     [](const TempFolder& f) {
         return encode(f, kCbr) + encode(f, {550, 2, 22050, 1, "--cbr -b 32"});
     },
     {{0.3, 2.7, 440}, {3.3, 4.7, 550}}},
    {"AStray48kHzFrameAtTheEnd",
     [](const TempFolder& f) {
         return encode(f, kCbr) + firstAudioFrame(encode(f, {660, 1, 48000, 2, "--cbr -b 128 -t"}));
     },
     {{0.3, 2.7, 440}}},
    {"A20MiBId3v2Tag",
     [](const TempFolder& f) { return id3v2Tag(20 * 1024 * 1024) + encode(f, kCbr); },
     {{0.3, 2.7, 440}}},
    {"Id3v1AndApev2Trailers",
     [](const TempFolder& f) { return encode(f, kCbr) + apeTag() + id3v1Tag(); },
     {{0.3, 2.7, 440}}},
};

class Mp3ShapesTest : public EngineTest, public ::testing::WithParamInterface<Shape> {
protected:
    TempFolder folder_{"vornel-shapes"};
};

// Each part is heard at its own pitch in both channels, and not a semitone away.
void expectParts(const std::vector<int16_t>& sound, const std::vector<Part>& parts)
{
    for (const Part& part : parts) {
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
}

TEST_P(Mp3ShapesTest, PlaysToItsEndAtItsOwnPitchAndDuration)
{
    const std::string mp3 = GetParam().make(folder_);
    ASSERT_FALSE(mp3.empty());
    const size_t reference = referenceFrames(folder_, mp3);
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
    expectParts(sound, GetParam().parts);
    BASS_StreamFree(stream);
}

INSTANTIATE_TEST_SUITE_P(Shapes, Mp3ShapesTest, ::testing::ValuesIn(kShapes),
                         [](const auto& test) { return std::string(test.param.name); });

struct HostileInput {
    const char* name;
    const char* file;
    bool plays;
};

void PrintTo(const HostileInput& input, std::ostream* out)
{
    *out << input.file;
}

class Mp3HostileInputTest : public EngineTest, public ::testing::WithParamInterface<HostileInput> {
protected:
    TempFolder folder_{"vornel-shapes"};
};

TEST_P(Mp3HostileInputTest, PlaysToItsEndOrFailsCleanly)
{
    const std::string bytes = dataFile(GetParam().file);
    ASSERT_FALSE(bytes.empty());
    server_.addRoute("/input.mp3", Route{bytes, "audio/mpeg"});
    const HSTREAM stream =
        BASS_StreamCreateURL(server_.url("/input.mp3").c_str(), 0,
                             BASS_STREAM_STATUS | BASS_STREAM_AUTOFREE | BASS_STREAM_PRESCAN, nullptr, nullptr);
    if (!GetParam().plays) {
        EXPECT_EQ(stream, 0u);
        EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FORMAT);
        return;
    }
    ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
    // Length and position answer at once while the stream downloads and decodes.
    EXPECT_NE(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), static_cast<QWORD>(-1));
    BASS_ChannelGetLength(stream, BASS_POS_BYTE);
    waitForDownload(stream);
    const size_t reference = referenceFrames(folder_, bytes);
    ASSERT_TRUE(BASS_ChannelPlay(stream, false));
    const size_t played = pullToEnd(stream, 60).size() / 2;
    EXPECT_EQ(BASS_ChannelIsActive(stream), BASS_ACTIVE_STOPPED);
    EXPECT_GE(played + 64, reference);
    EXPECT_LE(played, reference + 4096 + 64);
    EXPECT_EQ(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), BASS_ChannelGetLength(stream, BASS_POS_BYTE));
}

INSTANTIATE_TEST_SUITE_P(DataFiles, Mp3HostileInputTest,
                         ::testing::Values(HostileInput{"MixedRate44kThen48k", "mixed-rate-44k-then-48k.mp3", true},
                                           HostileInput{"Stray48kFrameAtEnd", "stray-48k-frame-at-end.mp3", true},
                                           HostileInput{"FourFrames44kThen48k", "mp3-four-frames-44k-then-48k.bin",
                                                        true},
                                           HostileInput{"ScannerHangMinimal", "mp3-scanner-hang-minimal.bin", false}),
                         [](const auto& test) { return std::string(test.param.name); });

} // namespace
} // namespace vornel::test
