// Decoded sound, play state, seeking, length and position of a stream from a loopback server.
#include "tests/engine/engine_test_support.h"

#include <limits>

namespace vornel::test {
namespace {

class DecodingTest : public EngineTest {};

TEST_F(DecodingTest, RendersTheToneOfTheFile)
{
    struct Case {
        double frequency;
        int rate;
        int channels;
        int bitrate;
    };
    for (const Case c :
         {Case{440, 44100, 2, 128}, Case{1000, 44100, 1, 64}, Case{660, 22050, 2, 64}, Case{880, 48000, 2, 192}}) {
        SCOPED_TRACE(testing::Message() << c.frequency << " Hz, " << c.rate << " Hz, " << c.channels << " ch");
        const HSTREAM stream = open(serve("/t.mp3", {.frequency = c.frequency,
                                                     .seconds = 1.5,
                                                     .bitrateKbps = c.bitrate,
                                                     .sampleRate = c.rate,
                                                     .channels = c.channels}));
        ASSERT_NE(stream, 0u);
        ASSERT_TRUE(BASS_ChannelPlay(stream, false));
        pull(8192); // past the encoder's lead-in
        const auto samples = pull(22050);
        for (int channel = 0; channel < 2; ++channel) {
            EXPECT_GT(toneAmplitude(samples, channel, c.frequency), 0.4 * 32767);
            EXPECT_LT(toneAmplitude(samples, channel, c.frequency * 1.5), 0.02 * 32767);
        }
        BASS_StreamFree(stream);
    }
}

TEST_F(DecodingTest, IsSilentUntilPlayAndWhilePaused)
{
    const HSTREAM stream = open(serve("/t.mp3", {.frequency = 440, .seconds = 2}));
    ASSERT_NE(stream, 0u);
    EXPECT_EQ(BASS_ChannelIsActive(stream), BASS_ACTIVE_STOPPED);
    EXPECT_EQ(rms(pull(4410)), 0);
    EXPECT_EQ(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), 0u);

    ASSERT_TRUE(BASS_ChannelPlay(stream, false));
    EXPECT_EQ(BASS_ChannelIsActive(stream), BASS_ACTIVE_PLAYING);
    pull(22050);
    const QWORD before = BASS_ChannelGetPosition(stream, BASS_POS_BYTE);
    EXPECT_EQ(before, 22050u * 4);

    ASSERT_TRUE(BASS_ChannelPause(stream));
    EXPECT_EQ(BASS_ChannelIsActive(stream), BASS_ACTIVE_PAUSED);
    EXPECT_EQ(rms(pull(4410)), 0);
    EXPECT_EQ(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), before);

    // Resuming goes on where it paused, not from the start.
    ASSERT_TRUE(BASS_ChannelPlay(stream, false));
    const auto resumed = pull(8820);
    EXPECT_GT(toneAmplitude(resumed, 0, 440), 0.4 * 32767);
    EXPECT_EQ(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), before + 8820u * 4);
}

TEST_F(DecodingTest, OutputVolumeScalesWhatIsHeardAndRefusesValuesOutOfRange)
{
    EXPECT_FLOAT_EQ(BASS_GetOutputVolume(), 1.0f);
    const HSTREAM stream = open(serve("/t.mp3", {.frequency = 440, .seconds = 2}));
    ASSERT_NE(stream, 0u);
    ASSERT_TRUE(BASS_ChannelPlay(stream, false));
    pull(8192); // past the encoder's lead-in
    const double full = toneAmplitude(pull(8820), 0, 440);

    ASSERT_TRUE(BASS_SetOutputVolume(0.25f));
    EXPECT_FLOAT_EQ(BASS_GetOutputVolume(), 0.25f);
    EXPECT_NEAR(toneAmplitude(pull(8820), 0, 440), 0.25 * full, 0.03 * full);

    for (const float wrong : {-0.1f, 1.5f, std::numeric_limits<float>::quiet_NaN()}) {
        EXPECT_FALSE(BASS_SetOutputVolume(wrong));
        EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM);
    }
    EXPECT_FLOAT_EQ(BASS_GetOutputVolume(), 0.25f);
    ASSERT_TRUE(BASS_SetOutputVolume(1.0f));
    EXPECT_NEAR(toneAmplitude(pull(8820), 0, 440), full, 0.03 * full);
    BASS_StreamFree(stream);
}

TEST_F(DecodingTest, PrescannedLengthIsExactAndThePositionReachesIt)
{
    const ToneMp3 tone{.frequency = 440, .seconds = 3};
    const HSTREAM stream = open(serve("/t.mp3", tone));
    ASSERT_NE(stream, 0u);
    waitForDownload(stream);
    const QWORD length = BASS_ChannelGetLength(stream, BASS_POS_BYTE);
    ASSERT_NE(length, static_cast<QWORD>(-1));
    EXPECT_EQ(length % 4, 0u);
    // lame pads the tone to whole frames of 1152 samples.
    EXPECT_EQ(length / 4 % 1152, 0u);
    EXPECT_GE(length / 4, static_cast<QWORD>(tone.seconds * 44100));
    EXPECT_LT(length / 4, static_cast<QWORD>(tone.seconds * 44100) + 3 * 1152);

    BASS_ChannelPlay(stream, false);
    const auto samples = pullToEnd(stream);
    EXPECT_EQ(samples.size() / 2 / 4096, length / 4 / 4096 + (length / 4 % 4096 ? 1 : 0));
    EXPECT_EQ(BASS_ChannelIsActive(stream), BASS_ACTIVE_STOPPED);
    EXPECT_EQ(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), length);
    EXPECT_EQ(BASS_ChannelGetLength(stream, BASS_POS_BYTE), length);
}

TEST_F(DecodingTest, LengthBeforeTheEndComesFromTheInfoFrameOrContentLength)
{
    for (const bool infoFrame : {true, false}) {
        SCOPED_TRACE(infoFrame ? "Info frame" : "Content-Length and bit rate");
        const ToneMp3 tone{.frequency = 440, .seconds = 3, .infoFrame = infoFrame};
        const HSTREAM stream = open(serve("/t.mp3", tone), BASS_STREAM_STATUS);
        ASSERT_NE(stream, 0u);
        const QWORD early = BASS_ChannelGetLength(stream, BASS_POS_BYTE);
        EXPECT_NEAR(double(early) / 4 / 44100, tone.seconds, 0.1);
        BASS_ChannelPlay(stream, false);
        pullToEnd(stream);
        const QWORD exact = BASS_ChannelGetLength(stream, BASS_POS_BYTE);
        EXPECT_EQ(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), exact);
        if (infoFrame)
            EXPECT_EQ(early, exact);
        else
            EXPECT_GE(early, exact); // never ends the track early
        BASS_StreamFree(stream);
    }
}

TEST_F(DecodingTest, SecondsToBytesUsesTheStreamFormat)
{
    const HSTREAM stereo = open(serve("/s.mp3", {.seconds = 1}));
    const HSTREAM mono = open(serve("/m.mp3", {.seconds = 1, .bitrateKbps = 64, .sampleRate = 22050, .channels = 1}));
    ASSERT_NE(stereo, 0u);
    ASSERT_NE(mono, 0u);
    EXPECT_EQ(BASS_ChannelSeconds2Bytes(stereo, 1.0), 44100u * 4);
    EXPECT_EQ(BASS_ChannelSeconds2Bytes(stereo, 0.5), 22050u * 4);
    EXPECT_EQ(BASS_ChannelSeconds2Bytes(mono, 2.0), 44100u * 2);
}

TEST_F(DecodingTest, SeeksWithinTheDownloadedFile)
{
    const HSTREAM stream = open(serve("/t.mp3", {.frequency = 440, .seconds = 4}));
    ASSERT_NE(stream, 0u);
    waitForDownload(stream);
    const QWORD length = BASS_ChannelGetLength(stream, BASS_POS_BYTE);
    BASS_ChannelPlay(stream, false);
    pull(4410);

    const QWORD target = BASS_ChannelSeconds2Bytes(stream, 3.0);
    ASSERT_TRUE(BASS_ChannelSetPosition(stream, target, BASS_POS_BYTE)) << BASS_ErrorGetCode();
    EXPECT_EQ(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), target);
    const auto rest = pullToEnd(stream);
    EXPECT_EQ(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), length);
    EXPECT_NEAR(double(rest.size() / 2), double(length - target) / 4, 4096);
    // Back to the start again after the end.
    ASSERT_TRUE(BASS_ChannelSetPosition(stream, 0, BASS_POS_BYTE));
    EXPECT_EQ(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), 0u);
}

TEST_F(DecodingTest, SeekLandsOnTheSampleAsked)
{
    // The samples after a seek are those that a straight decode has at that point.
    const HSTREAM whole = open(serve("/t.mp3", {.frequency = 440, .seconds = 3}), BASS_STREAM_PRESCAN);
    ASSERT_NE(whole, 0u);
    waitForDownload(whole);
    BASS_ChannelPlay(whole, false);
    const auto reference = pullToEnd(whole);
    BASS_StreamFree(whole);

    const HSTREAM stream = open(server_.url("/t.mp3"), BASS_STREAM_PRESCAN);
    waitForDownload(stream);
    const QWORD targetFrame = 70000;
    ASSERT_TRUE(BASS_ChannelSetPosition(stream, targetFrame * 4, BASS_POS_BYTE));
    BASS_ChannelPlay(stream, false);
    const auto after = pull(4096);
    const size_t settle = 2048;
    double worst = 0;
    for (size_t i = settle * 2; i < after.size(); ++i)
        worst = std::max(worst, std::abs(double(after[i]) - reference[targetFrame * 2 + i]));
    EXPECT_LT(worst, 200);
}

TEST_F(DecodingTest, SeekBeyondTheLengthFails)
{
    const HSTREAM stream = open(serve("/t.mp3", {.seconds = 1}));
    ASSERT_NE(stream, 0u);
    waitForDownload(stream);
    const QWORD length = BASS_ChannelGetLength(stream, BASS_POS_BYTE);
    EXPECT_FALSE(BASS_ChannelSetPosition(stream, length + 4 * 44100, BASS_POS_BYTE));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_POSITION);
}

TEST_F(DecodingTest, OutputLatencyIsTakenOffThePosition)
{
    BASS_Free();
    output_ = std::make_shared<audio::MemoryOutput>(2048);
    audio::injectAudioOutput(output_);
    ASSERT_TRUE(BASS_Init(-1, 44100, 0, nullptr, nullptr));
    const HSTREAM stream = open(serve("/t.mp3", {.seconds = 1}));
    ASSERT_NE(stream, 0u);
    waitForDownload(stream);
    const QWORD length = BASS_ChannelGetLength(stream, BASS_POS_BYTE);
    BASS_ChannelPlay(stream, false);
    pull(1024);
    EXPECT_EQ(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), 0u);
    pull(4096);
    EXPECT_EQ(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), (5120u - 2048u) * 4);
    pullToEnd(stream);
    EXPECT_EQ(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), length);
}

} // namespace
} // namespace vornel::test
