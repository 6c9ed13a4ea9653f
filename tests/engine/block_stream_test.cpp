// Block streams: a bounded buffer that the download fills only as fast as playback drains it.
#include "playback/engine/connection.h"
#include "tests/engine/engine_test_support.h"

namespace vornel::test {
namespace {

constexpr DWORD kBlockFlags = BASS_STREAM_STATUS | BASS_STREAM_AUTOFREE | BASS_STREAM_PRESCAN | BASS_STREAM_BLOCK;

class BlockStreamTest : public EngineTest {};

TEST_F(BlockStreamTest, BufferStaysWithinItsBoundWhileALargeFileStreams)
{
    const std::string bytes = makeToneMp3({.frequency = 440, .seconds = 90});
    server_.addRoute("/big.mp3", Route{bytes, "audio/mpeg"});
    const HSTREAM stream = open(server_.url("/big.mp3"), kBlockFlags);
    ASSERT_NE(stream, 0u);
    EXPECT_EQ(BASS_StreamGetFilePosition(stream, BASS_FILEPOS_END), bytes.size());
    // The download stops once the buffer is full, far below 76 per cent of the file.
    ASSERT_TRUE(waitUntil([&] { return BASS_StreamGetFilePosition(stream, BASS_FILEPOS_BLOCKFULL) == 1; }));
    const QWORD full = BASS_StreamGetFilePosition(stream, BASS_FILEPOS_BUFFER);
    EXPECT_LE(full, audio::Connection::kBlockCapacity);
    EXPECT_LT(full * 100 / bytes.size(), 76u);
    EXPECT_EQ(BASS_StreamGetFilePosition(stream, BASS_FILEPOS_CONNECTED), 1u);

    BASS_ChannelPlay(stream, false);
    QWORD largest = 0;
    size_t frames = 0;
    std::vector<int16_t> middle;
    while (BASS_ChannelIsActive(stream) != BASS_ACTIVE_STOPPED && frames < 100 * 44100) {
        largest = std::max(largest, BASS_StreamGetFilePosition(stream, BASS_FILEPOS_BUFFER));
        auto piece = pull(8192);
        frames += piece.size() / 2;
        if (frames > 45 * 44100 && middle.size() < 44100)
            middle.insert(middle.end(), piece.begin(), piece.end());
        if (BASS_ChannelIsActive(stream) == BASS_ACTIVE_STALLED)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_LE(largest, audio::Connection::kBlockCapacity);
    EXPECT_GT(toneAmplitude(middle, 0, 440), 0.4 * 32767);
    // Played through to the end, with the exact length once the download was over.
    EXPECT_EQ(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), BASS_ChannelGetLength(stream, BASS_POS_BYTE));
    EXPECT_GE(BASS_ChannelGetLength(stream, BASS_POS_BYTE) / 4, 90u * 44100);
}

TEST_F(BlockStreamTest, RefusesToSeek)
{
    const HSTREAM stream = open(serve("/t.mp3", {.seconds = 5}), kBlockFlags);
    ASSERT_NE(stream, 0u);
    BASS_ChannelPlay(stream, false);
    pull(4096);
    EXPECT_FALSE(BASS_ChannelSetPosition(stream, 44100 * 4, BASS_POS_BYTE));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_NOTAVAIL);
    EXPECT_FALSE(BASS_ChannelSetPosition(stream, 0, BASS_POS_BYTE));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_NOTAVAIL);
}

TEST_F(BlockStreamTest, StallsWhileTheServerIsSlowAndPlaysOnWhenDataComes)
{
    // 48 KB at about 10 KB/s, well below the 16 KB/s that 128 kbps needs. The stream opens
    // once the body's first 32 KB piece is in; the rest comes slower than it plays, even when
    // the test itself runs slowly (under a sanitizer).
    Route slow{makeToneMp3({.seconds = 3}), "audio/mpeg"};
    slow.dripSize = 1000;
    slow.dripPause = std::chrono::milliseconds(100);
    server_.addRoute("/slow.mp3", slow);
    const HSTREAM stream = open(server_.url("/slow.mp3"), kBlockFlags);
    ASSERT_NE(stream, 0u);
    BASS_ChannelPlay(stream, false);
    // Pulling a second at a time runs the buffer dry.
    bool stalled = false;
    for (int i = 0; i < 20 && !stalled; ++i) {
        pull(44100);
        stalled = BASS_ChannelIsActive(stream) == BASS_ACTIVE_STALLED;
    }
    EXPECT_TRUE(stalled);
    const auto rest = pullToEnd(stream);
    EXPECT_EQ(BASS_ChannelIsActive(stream), BASS_ACTIVE_STOPPED);
    EXPECT_EQ(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), BASS_ChannelGetLength(stream, BASS_POS_BYTE));
}

} // namespace
} // namespace vornel::test
