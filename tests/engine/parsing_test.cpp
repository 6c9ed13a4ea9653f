// The frame scanner and the ICY metadata stripper on bytes as they arrive in pieces.
#include "playback/engine/icy_stripper.h"
#include "playback/engine/mp3_scanner.h"
#include "tests/engine/engine_test_support.h"
#include "tests/support/mp3_fixture.h"

#include <gtest/gtest.h>

#include <optional>

namespace vornel::test {
namespace {

using audio::IcyStripper;
using audio::Mp3Scanner;

std::string id3Tag(size_t payload)
{
    std::string tag = "ID3\x03";
    tag += '\0';
    tag += '\0';
    for (int shift : {21, 14, 7, 0})
        tag.push_back(static_cast<char>((payload >> shift) & 0x7F));
    // A payload full of frame-like bytes must be skipped, not scanned.
    for (size_t i = 0; i < payload; ++i)
        tag.push_back(i % 2 ? '\xFB' : '\xFF');
    return tag;
}

TEST(Mp3ScannerTest, CountsTheSameFramesWhateverThePieces)
{
    const std::string mp3 = makeToneMp3({.seconds = 2});
    const Mp3Scanner whole = scanInPieces(mp3, mp3.size());
    ASSERT_TRUE(whole.locked());
    EXPECT_EQ(whole.firstFrame()->sampleRate, 44100);
    EXPECT_EQ(whole.firstFrame()->channels, 2);
    EXPECT_EQ(whole.firstFrame()->bitrateKbps, 128);
    EXPECT_EQ(whole.samples() % 1152, 0);
    EXPECT_GE(whole.samples(), 2 * 44100);
    // lame's Info frame announces the same frames, which gives the length before the end.
    EXPECT_EQ(whole.declaredSamples(), whole.samples());
    for (size_t piece : {1u, 3u, 417u, 4096u}) {
        const Mp3Scanner split = scanInPieces(mp3, piece);
        EXPECT_EQ(split.samples(), whole.samples()) << piece;
        EXPECT_EQ(split.audioStart(), whole.audioStart()) << piece;
    }
}

TEST(Mp3ScannerTest, SkipsAnId3TagAndFindsTheMpeg2Format)
{
    const std::string mp3 = makeToneMp3({.seconds = 1, .bitrateKbps = 32, .sampleRate = 22050, .channels = 1});
    const std::string tag = id3Tag(5000);
    const Mp3Scanner plain = scanInPieces(mp3, 1000);
    const Mp3Scanner tagged = scanInPieces(tag + mp3, 1000);
    ASSERT_TRUE(tagged.locked());
    EXPECT_EQ(tagged.firstFrame()->version, 2);
    EXPECT_EQ(tagged.firstFrame()->sampleRate, 22050);
    EXPECT_EQ(tagged.firstFrame()->channels, 1);
    EXPECT_EQ(tagged.firstFrame()->samplesPerFrame, 576);
    EXPECT_EQ(tagged.samples(), plain.samples());
    EXPECT_EQ(tagged.audioStart(), plain.audioStart() + static_cast<int64_t>(tag.size()));
}

TEST(Mp3ScannerTest, GivesUpOnBytesThatAreNotMp3)
{
    for (const std::string& bytes :
         {std::string(100000, 'a'), std::string("<html><body>hello</body></html>"), std::string(70000, '\xFF')}) {
        const Mp3Scanner scanner = scanInPieces(bytes, 512);
        EXPECT_FALSE(scanner.locked());
        EXPECT_TRUE(scanner.gaveUp());
    }
}

struct StreamTitleCase {
    const char* block;
    std::optional<std::string> title;
};

TEST(IcyStreamTitleTest, TakesTheTitleOutOfAMetadataBlock)
{
    const StreamTitleCase cases[] = {
        {"StreamTitle='Band - Song';StreamUrl='';", "Band - Song"},
        {"StreamTitle='It's Band - Rock 'n' Roll';", "It's Band - Rock 'n' Roll"},
        {"StreamTitle='';", ""},
        {"StreamUrl='http://example.org/';", std::nullopt},
        {"StreamTitle='Cut short'", "Cut short"},
        {"StreamTitle='Caf\xE9';", "Caf\xC3\xA9"},                   // Latin-1 becomes UTF-8
        {"StreamTitle='Caf\xC3\xA9';", "Caf\xC3\xA9"},               // UTF-8 stays
        {"StreamTitle='\xED\xA0\x80';", "\xC3\xAD\xC2\xA0\xC2\x80"}, // a surrogate is no UTF-8
    };
    for (const StreamTitleCase& c : cases)
        EXPECT_EQ(audio::icyStreamTitle(c.block), c.title) << c.block;
}

TEST(IcyStripperTest, RemovesMetadataBlocksSplitAnywhere)
{
    std::string audio;
    for (int i = 0; i < 1000; ++i)
        audio.push_back(static_cast<char>('a' + i % 26));
    // interval 100: audio, a block of 2 x 16 bytes, audio, an empty block, audio ...
    std::string sent;
    for (size_t at = 0, n = 0; at < audio.size(); at += 100, ++n) {
        sent += audio.substr(at, 100);
        if (n % 2 == 0) {
            sent.push_back('\x02');
            sent += std::string("StreamTitle='x';").append(16, '\0');
        } else {
            sent.push_back('\0');
        }
    }
    for (size_t piece : {1u, 7u, 100u, 101u, 5000u}) {
        IcyStripper stripper(100);
        std::string out;
        for (size_t at = 0; at < sent.size(); at += piece)
            stripper.strip(sent.data() + at, std::min(piece, sent.size() - at),
                           [&](const char* data, size_t size) { out.append(data, size); });
        EXPECT_EQ(out, audio) << piece;
        EXPECT_EQ(stripper.lastMetadata(), "StreamTitle='x';");
    }
}

} // namespace
} // namespace vornel::test
