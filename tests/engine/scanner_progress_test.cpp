// The frame scanner on streams whose format changes, stray frames and fuzzed bytes: it
// always ends, follows the change and counts each part for the time it plays.
#include "playback/engine/mp3_scanner.h"
#include "tests/engine/engine_test_support.h"
#include "tests/support/mp3_fixture.h"

#include <gtest/gtest.h>

namespace vornel::test {
namespace {

using audio::Mp3Scanner;

TEST(Mp3ScannerProgressTest, EndsOnEveryKnownHangInput)
{
    struct Case {
        std::string file;
        int64_t minFrames;
    };
    for (const Case& c : {Case{"mixed-rate-44k-then-48k.mp3", 150}, Case{"stray-48k-frame-at-end.mp3", 78},
                          Case{"mp3-four-frames-44k-then-48k.bin", 4}, Case{"mp3-scanner-hang-minimal.bin", 0}}) {
        const std::string bytes = dataFile(c.file);
        ASSERT_FALSE(bytes.empty()) << c.file;
        for (size_t piece : {size_t(1), size_t(7), size_t(418), bytes.size()}) {
            SCOPED_TRACE(c.file + " in pieces of " + std::to_string(piece));
            const Mp3Scanner scanner = scanInPieces(bytes, piece);
            EXPECT_GE(scanner.audioFrames(), c.minFrames);
        }
    }
}

TEST(Mp3ScannerProgressTest, CountsEachPartAtItsOwnRate)
{
    const std::string first = makeToneMp3({.frequency = 440, .seconds = 2, .sampleRate = 44100});
    const std::string second = makeToneMp3({.frequency = 440, .seconds = 2, .sampleRate = 48000});
    const Mp3Scanner a = scanInPieces(first, 4096), b = scanInPieces(second, 4096);
    const Mp3Scanner both = scanInPieces(first + second, 4096);
    ASSERT_TRUE(both.locked());
    EXPECT_EQ(both.firstFrame()->sampleRate, 44100);
    // The 48 kHz part counts for its time at the first part's rate (its own Info frame is
    // counted as a frame too, being mid-stream).
    const double expected = a.samples() + b.samples() * 44100.0 / 48000.0;
    EXPECT_NEAR(double(both.samples()), expected, 2 * 1152);
    EXPECT_GE(both.audioFrames(), a.audioFrames() + b.audioFrames());
}

TEST(Mp3ScannerProgressTest, AStrayFrameOfAnotherRateInTheMiddleIsPassedOver)
{
    const std::string main = makeToneMp3({.frequency = 440, .seconds = 1});
    const std::string other = makeToneMp3({.frequency = 440, .seconds = 1, .sampleRate = 48000, .infoFrame = false});
    const auto header = audio::parseFrameHeader(reinterpret_cast<const unsigned char*>(other.data()));
    ASSERT_TRUE(header);
    const std::string stray = other.substr(0, static_cast<size_t>(header->size));
    const Mp3Scanner plain = scanInPieces(main, 1000);
    // Cut in at a frame boundary of the main file.
    const size_t cut = static_cast<size_t>(plain.audioStart()) + 10 * 417;
    const Mp3Scanner mixed = scanInPieces(main.substr(0, cut) + stray + main.substr(cut), 1000);
    EXPECT_GE(mixed.audioFrames(), plain.audioFrames());
    EXPECT_LE(mixed.audioFrames(), plain.audioFrames() + 1);
}

} // namespace
} // namespace vornel::test
