// A connection that stalls mid-stream starves only its own stream: the device callback
// returns at once, other streams play on, and the window's queries answer.
#include "tests/engine/engine_test_support.h"

namespace vornel::test {
namespace {

using namespace std::chrono_literals;

class StallTest : public EngineTest {};

TEST_F(StallTest, AStalledConnectionStarvesOnlyItsOwnStream)
{
    const std::string audio = makeToneMp3({.frequency = 440, .seconds = 10});
    const std::string head =
        "HTTP/1.1 200 OK\r\nContent-Type: audio/mpeg\r\nContent-Length: " + std::to_string(audio.size()) + "\r\n\r\n";
    // About two seconds of sound, then the server keeps the connection open and says nothing.
    server_.addConnection(ConnectionScript().expectHead().send(head + audio.substr(0, 32000)).wait(20000ms));
    const HSTREAM stalled = open(server_.url("/stall.mp3"));
    ASSERT_NE(stalled, 0u);
    const HSTREAM other = open(serve("/other.mp3", {.frequency = 1250, .seconds = 8}));
    ASSERT_NE(other, 0u);
    BASS_ChannelPlay(stalled, false);
    BASS_ChannelPlay(other, false);

    std::vector<int16_t> before;
    while (BASS_ChannelIsActive(stalled) != BASS_ACTIVE_STALLED && before.size() < 5u * 44100 * 2) {
        const auto piece = pull(4096);
        before.insert(before.end(), piece.begin(), piece.end());
    }
    ASSERT_EQ(BASS_ChannelIsActive(stalled), BASS_ACTIVE_STALLED);
    EXPECT_GT(toneAmplitude(std::vector<int16_t>(before.begin(), before.begin() + 44100 * 2), 0, 440), 0.3 * 32767);

    // The download is blocked on the silent server: device callbacks still return, with the
    // other stream's sound, and every query answers.
    const QWORD position = BASS_ChannelGetPosition(stalled, BASS_POS_BYTE);
    std::vector<int16_t> during;
    for (int i = 0; i < 20; ++i) {
        const auto piece = output_->renderNow(2205);
        during.insert(during.end(), piece.begin(), piece.end());
        EXPECT_EQ(BASS_ChannelIsActive(stalled), BASS_ACTIVE_STALLED);
        EXPECT_EQ(BASS_ChannelGetPosition(stalled, BASS_POS_BYTE), position);
        EXPECT_NE(BASS_ChannelGetLength(stalled, BASS_POS_BYTE), static_cast<QWORD>(-1));
        EXPECT_EQ(BASS_StreamGetFilePosition(stalled, BASS_FILEPOS_CONNECTED), 1u);
        std::this_thread::sleep_for(50ms); // about the pace of a real device
    }
    EXPECT_GT(toneAmplitude(during, 0, 1250), 0.3 * 32767);
    EXPECT_LT(toneAmplitude(during, 0, 440), 0.01 * 32767);

    // Freeing the stalled stream does not wait for the server either.
    EXPECT_TRUE(BASS_StreamFree(stalled));
    EXPECT_EQ(BASS_ChannelIsActive(other), BASS_ACTIVE_PLAYING);
}

} // namespace
} // namespace vornel::test
