// A long track in normal mode: only its first part is kept in memory, the rest in a temporary
// file that seeks and playback read back; when that file cannot grow (a full disk), the stream
// plays what it has and then stalls.
#include "playback/engine/connection.h"
#include "tests/engine/engine_test_support.h"

#include <sys/resource.h>

namespace vornel::test {
namespace {

constexpr size_t kMiB = 1024 * 1024;
constexpr double kBytesPerSecond = 128000 / 8; // the tone's constant bit rate

// About 20 MiB: 440 Hz up to about 12 MiB, 880 Hz after it; at 16 MiB lies the file part.
const std::string& longTrack()
{
    static const std::string bytes = [] {
        const std::string low = makeToneMp3({.frequency = 440, .seconds = 60, .infoFrame = false});
        const std::string high = makeToneMp3({.frequency = 880, .seconds = 60, .infoFrame = false});
        std::string track;
        while (track.size() < 12 * kMiB)
            track += low;
        while (track.size() < 20 * kMiB)
            track += high;
        return track;
    }();
    return bytes;
}

double secondsAt(size_t byte)
{
    return static_cast<double>(byte) / kBytesPerSecond;
}

// Limits the size that files of this process may grow to, as a full disk would, while it lives.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit limited = previous_;
        limited.rlim_cur = bytes;
        applied_ = setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &previous_); }
    bool applied() const { return applied_; }

private:
    rlimit previous_{};
    bool applied_ = false;
};

class LongTrackTest : public EngineTest {
protected:
    std::string serveLongTrack()
    {
        server_.addRoute("/long.mp3", Route{longTrack(), "audio/mpeg"});
        return server_.url("/long.mp3");
    }

    // A second of sound after a seek to that second.
    std::vector<int16_t> secondAt(HSTREAM stream, double seconds)
    {
        EXPECT_TRUE(BASS_ChannelSetPosition(stream, BASS_ChannelSeconds2Bytes(stream, seconds), BASS_POS_BYTE))
            << seconds << " s: " << BASS_ErrorGetCode();
        pull(4410); // past the decoder's settling after a seek
        return pull(44100);
    }
};

TEST_F(LongTrackTest, ADownloadKeepsOnlyItsFirstSixteenMebibytesInMemory)
{
    audio::Connection connection(serveLongTrack(), false);
    connection.start();
    ASSERT_TRUE(waitUntil([&] { return connection.over(); }, std::chrono::seconds(60)));
    EXPECT_TRUE(connection.complete());
    EXPECT_FALSE(connection.storeFailed());
    EXPECT_EQ(connection.downloaded(), static_cast<int64_t>(longTrack().size()));
    EXPECT_LE(connection.memoryBytes(), audio::Connection::kMemoryLimit);
    EXPECT_GE(connection.memoryBytes(), audio::Connection::kMemoryLimit / 2);

    std::string readBack;
    std::string piece(100000, '\0');
    while (size_t n = connection.read(piece.data(), piece.size()))
        readBack.append(piece.data(), n);
    EXPECT_TRUE(readBack == longTrack()) << "the bytes read back differ from those served";
}

TEST_F(LongTrackTest, SeeksIntoTheFilePartAndBackPlayTheRightSound)
{
    const HSTREAM stream = open(serveLongTrack());
    ASSERT_NE(stream, 0u);
    waitForDownload(stream);
    BASS_ChannelPlay(stream, false);

    struct Place {
        double seconds;
        double tone;
        double other;
    };
    const Place places[] = {{secondsAt(19 * kMiB), 880, 440},
                            {secondsAt(4 * kMiB), 440, 880},
                            {secondsAt(17 * kMiB), 880, 440},
                            {secondsAt(8 * kMiB), 440, 880}};
    for (const Place& place : places) {
        const auto sound = secondAt(stream, place.seconds);
        EXPECT_GT(toneAmplitude(sound, 0, place.tone), 0.3 * 32767) << place.seconds << " s";
        EXPECT_LT(toneAmplitude(sound, 0, place.other), 0.01 * 32767) << place.seconds << " s";
    }

    // Across the boundary between memory and file: the tone goes on second by second.
    secondAt(stream, secondsAt(16 * kMiB) - 5);
    for (int second = 0; second < 10; ++second)
        EXPECT_GT(toneAmplitude(pull(44100), 0, 880), 0.3 * 32767) << second;
}

TEST_F(LongTrackTest, WhenTheFileCannotGrowTheStreamPlaysWhatItHasThenStalls)
{
    const std::string url = serveLongTrack(); // made before the limit: the encoder writes files
    FileSizeLimit limit(kMiB);
    ASSERT_TRUE(limit.applied());
    const HSTREAM stream = open(url);
    ASSERT_NE(stream, 0u);
    // The download ends there, short of the file's end.
    waitForDownload(stream);
    const auto kept = static_cast<size_t>(BASS_StreamGetFilePosition(stream, BASS_FILEPOS_BUFFER));
    EXPECT_GE(kept, 16 * kMiB);
    EXPECT_LE(kept, 17 * kMiB + 64 * 1024);

    BASS_ChannelPlay(stream, false);
    const auto before = secondAt(stream, secondsAt(kept) - 5);
    EXPECT_GT(toneAmplitude(before, 0, 880), 0.3 * 32767) << "it plays what it has";
    size_t pulled = 0;
    while (BASS_ChannelIsActive(stream) == BASS_ACTIVE_PLAYING && pulled < 20 * 44100)
        pulled += pull(4410).size() / 2;
    EXPECT_EQ(BASS_ChannelIsActive(stream), BASS_ACTIVE_STALLED);
    EXPECT_LT(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), BASS_ChannelGetLength(stream, BASS_POS_BYTE));
    // It stays stalled (it has not ended) and still seeks back into what it has.
    pull(44100);
    EXPECT_EQ(BASS_ChannelIsActive(stream), BASS_ACTIVE_STALLED);
    EXPECT_GT(toneAmplitude(secondAt(stream, secondsAt(4 * kMiB)), 0, 440), 0.3 * 32767);
    EXPECT_EQ(BASS_ChannelIsActive(stream), BASS_ACTIVE_PLAYING);
    EXPECT_TRUE(BASS_StreamFree(stream));
}

} // namespace
} // namespace vornel::test
