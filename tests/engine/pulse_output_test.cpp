// The libpulse output against a private PulseAudio server with a null sink: what the engine
// plays is recorded from the sink's monitor and checked, the stream stands corked while
// nothing plays, the server may go away, come back or freeze, and the volume is the
// stream's own. The choice of output follows the environment and the server.
#include "tests/engine/engine_test_support.h"
#include "tests/engine/private_pulse.h"

#include "playback/engine/device_output.h"
#include "playback/engine/pulse_output.h"

#include <pulse/volume.h>

#include <atomic>
#include <cmath>
#include <iostream>
#include <optional>

namespace vornel::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr size_t kWindowFrames = 11025; // a quarter of a second

std::vector<int16_t> slice(const std::vector<int16_t>& stereo, size_t firstFrame, size_t frames)
{
    firstFrame = std::min(firstFrame, stereo.size() / 2);
    frames = std::min(frames, stereo.size() / 2 - firstFrame);
    return {stereo.begin() + static_cast<long>(firstFrame * 2),
            stereo.begin() + static_cast<long>((firstFrame + frames) * 2)};
}

std::vector<int16_t> lastWindow(const std::vector<int16_t>& stereo)
{
    const size_t frames = stereo.size() / 2;
    return slice(stereo, frames > kWindowFrames ? frames - kWindowFrames : 0, kWindowFrames);
}

// The left channel's frequency from its rising zero crossings.
double zeroCrossingFrequency(const std::vector<int16_t>& stereo)
{
    int rising = 0;
    for (size_t i = 2; i < stereo.size(); i += 2)
        rising += stereo[i - 2] < 0 && stereo[i] >= 0;
    return rising * 44100.0 / (static_cast<double>(stereo.size()) / 2);
}

// The tone of makeToneMp3 at amplitude 0.5, as the monitor hears it at full volume.
constexpr double kFullTone = 0.5 * 32767;

bool toneInLastWindow(const MonitorRecording& recording, double frequency, double atLeast = 0.8 * kFullTone)
{
    const auto window = lastWindow(recording.samples());
    return window.size() == kWindowFrames * 2 && toneAmplitude(window, 0, frequency) > atLeast;
}

class PulseOutputTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!onPath("pulseaudio") || !onPath("parec") || !onPath("pactl"))
            GTEST_SKIP() << "pulseaudio and pulseaudio-utils are not installed (scripts/install-deps installs them)";
        audio::injectAudioOutput(nullptr);
        pulse_.emplace(withSink());
        ASSERT_TRUE(pulse_->ready()) << "the private PulseAudio server did not start";
        server_.emplace("PULSE_SERVER", pulse_->server());
        driver_.emplace("SDL_AUDIODRIVER", std::nullopt);
    }
    void TearDown() override
    {
        BASS_Free();
        recording_.reset();
    }
    virtual bool withSink() const { return true; }

    void startRecording()
    {
        recording_.emplace();
        ASSERT_TRUE(
            recording_->start(*pulse_, pulse_->directory() + "/monitor-" + std::to_string(++recordings_) + ".raw"))
            << "nothing came from the null sink's monitor";
    }

    // The engine on the private server, playing a long tone.
    HSTREAM playTone(double frequency, double seconds = 30)
    {
        http_.addRoute("/tone.mp3", Route{makeToneMp3({.frequency = frequency, .seconds = seconds}), "audio/mpeg"});
        EXPECT_TRUE(BASS_Init(-1, 44100, 0, nullptr, nullptr)) << BASS_ErrorGetCode();
        const HSTREAM stream =
            BASS_StreamCreateURL(http_.url("/tone.mp3").c_str(), 0, BASS_STREAM_AUTOFREE, nullptr, nullptr);
        EXPECT_NE(stream, 0u) << BASS_ErrorGetCode();
        EXPECT_TRUE(BASS_ChannelPlay(stream, false));
        return stream;
    }

    std::optional<PrivatePulse> pulse_;
    std::optional<ScopedEnv> server_, driver_;
    std::optional<MonitorRecording> recording_;
    int recordings_ = 0;
    ScriptedServer http_;
};

TEST_F(PulseOutputTest, EnginePlaysTheToneAtItsPitchAndPauseSilencesIt)
{
    startRecording();
    const HSTREAM stream = playTone(440, 6);
    std::this_thread::sleep_for(1500ms);
    ASSERT_TRUE(BASS_ChannelPause(stream));
    std::this_thread::sleep_for(1000ms);
    const auto recorded = recording_->stop();

    // Somewhere a whole 0.25 s of recording is the tone; the last 0.25 s, recorded from
    // 0.75 s after the pause on, is silent.
    ASSERT_GT(recorded.size() / 2, 2 * kWindowFrames) << "too little was recorded";
    double bestAmplitude = 0, pitch = 0;
    for (size_t start = 0; start + kWindowFrames <= recorded.size() / 2; start += kWindowFrames / 10) {
        const auto window = slice(recorded, start, kWindowFrames);
        const double amplitude = toneAmplitude(window, 0, 440);
        if (amplitude > bestAmplitude) {
            bestAmplitude = amplitude;
            pitch = zeroCrossingFrequency(window);
        }
    }
    EXPECT_GT(bestAmplitude, 0.8 * kFullTone) << "the tone was not heard on the sink";
    EXPECT_NEAR(pitch, 440, 8);
    EXPECT_LT(rms(lastWindow(recorded)), 30) << "sound went on after the pause";
}

TEST_F(PulseOutputTest, TheOutputRendersOnlyWhileSomethingPlaysAndNotAfterClose)
{
    audio::PulseOutput output;
    for (int round = 0; round < 2; ++round) {
        auto renders = std::make_shared<std::atomic<int>>(0);
        audio::OutputCallbacks callbacks;
        callbacks.render = [renders](int16_t* out, int frames, int) {
            std::fill(out, out + frames * 2, int16_t{0});
            ++*renders;
            return true;
        };
        ASSERT_TRUE(output.open(callbacks));
        std::this_thread::sleep_for(300ms);
        EXPECT_EQ(*renders, 0) << "the output asked for sound while nothing played";
        output.setActivity(audio::Activity::Playing, false);
        // Past the first timing the server sends, a second into playback.
        ASSERT_TRUE(waitUntil([&] { return *renders > 8; }));
        EXPECT_GT(output.latencyFrames(), 0);
        EXPECT_LT(output.latencyFrames(), 44100 / 2) << "more than 500 ms between mixer and listener";
        output.close();
        const int afterClose = *renders;
        std::this_thread::sleep_for(300ms);
        EXPECT_EQ(*renders, afterClose) << "render was called after close returned";
    }
}

// The server does no work for the program while nothing plays: it holds the program's
// stream only while a track plays (uncorked) or is paused (corked, what it holds kept for
// the resume); none at start, once the track is freed, and once a track has played out.
TEST_F(PulseOutputTest, TheServerHoldsAStreamOnlyWhileATrackPlaysOrIsPaused)
{
    enum class Held { None, Corked, Playing };
    const auto holds = [&](Held expected) {
        return waitUntil([&] {
            const auto inputs = sinkInputs(*pulse_);
            if (expected == Held::None)
                return inputs.empty();
            return inputs.size() == 1 && inputs[0].corked == (expected == Held::Corked);
        });
    };
    ASSERT_TRUE(BASS_Init(-1, 44100, 0, nullptr, nullptr)) << BASS_ErrorGetCode();
    EXPECT_TRUE(holds(Held::None)) << "after start";
    http_.addRoute("/long.mp3", Route{makeToneMp3({.frequency = 440, .seconds = 30}), "audio/mpeg"});
    http_.addRoute("/short.mp3", Route{makeToneMp3({.frequency = 440, .seconds = 1}), "audio/mpeg"});
    const HSTREAM stream = BASS_StreamCreateURL(http_.url("/long.mp3").c_str(), 0, 0, nullptr, nullptr);
    ASSERT_NE(stream, 0u);
    EXPECT_TRUE(holds(Held::None)) << "with a stream not played yet";
    ASSERT_TRUE(BASS_ChannelPlay(stream, false));
    EXPECT_TRUE(holds(Held::Playing)) << "playing";
    ASSERT_TRUE(BASS_ChannelPause(stream));
    EXPECT_TRUE(holds(Held::Corked)) << "paused";
    ASSERT_TRUE(BASS_ChannelPlay(stream, false));
    EXPECT_TRUE(holds(Held::Playing)) << "resumed";
    ASSERT_TRUE(BASS_StreamFree(stream));
    EXPECT_TRUE(holds(Held::None)) << "freed";

    const HSTREAM shortOne = BASS_StreamCreateURL(http_.url("/short.mp3").c_str(), 0, 0, nullptr, nullptr);
    ASSERT_NE(shortOne, 0u);
    ASSERT_TRUE(BASS_ChannelPlay(shortOne, false));
    EXPECT_TRUE(holds(Held::Playing)) << "the short track";
    EXPECT_TRUE(waitUntil([&] { return BASS_ChannelIsActive(shortOne) == BASS_ACTIVE_STOPPED; }));
    EXPECT_TRUE(holds(Held::None)) << "played to its end";
}

void countVolumeCall(float volume, void* user)
{
    auto* heard = static_cast<std::atomic<float>*>(user);
    heard->store(volume);
}

// The volume is the stream's own: heard at the lower level, shown by the server, and a
// change made in the server (the desktop's mixer) reaches the program's listener.
TEST_F(PulseOutputTest, TheVolumeIsTheStreamsOwnBothWays)
{
    std::atomic<float> heardFromOutside{-1.0f};
    BASS_SetOutputVolumeProc(&countVolumeCall, &heardFromOutside);
    startRecording();
    playTone(440);
    ASSERT_TRUE(waitUntil([&] { return toneInLastWindow(*recording_, 440); })) << "the tone at full volume";
    std::this_thread::sleep_for(300ms); // the whole window is the tone
    const double full = toneAmplitude(lastWindow(recording_->samples()), 0, 440);

    ASSERT_TRUE(BASS_SetOutputVolume(0.5f));
    EXPECT_FLOAT_EQ(BASS_GetOutputVolume(), 0.5f);
    EXPECT_TRUE(waitUntil([&] {
        const auto inputs = sinkInputs(*pulse_);
        return inputs.size() == 1 && inputs[0].volumePercent == 50;
    })) << "the server does not show the volume";
    const double expected = full * pa_sw_volume_to_linear(PA_VOLUME_NORM / 2);
    double now = 0;
    EXPECT_TRUE(waitUntil([&] {
        now = toneAmplitude(lastWindow(recording_->samples()), 0, 440);
        return std::abs(now - expected) < 0.15 * expected;
    })) << "the tone at half volume: "
        << now << ", should be about " << expected << " of " << full;
    std::this_thread::sleep_for(300ms);
    EXPECT_FLOAT_EQ(heardFromOutside, -1.0f) << "the program's own change was reported as one from outside";

    const auto inputs = sinkInputs(*pulse_);
    ASSERT_EQ(inputs.size(), 1u);
    ASSERT_TRUE(pulse_->pactl("set-sink-input-volume " + std::to_string(inputs[0].index) + " 30%"));
    ASSERT_TRUE(waitUntil([&] { return heardFromOutside >= 0; })) << "the mixer's change did not reach the listener";
    EXPECT_NEAR(heardFromOutside, 0.30f, 0.01f);
    EXPECT_NEAR(BASS_GetOutputVolume(), 0.30f, 0.01f);
    BASS_SetOutputVolumeProc(nullptr, nullptr);
}

// The server is killed mid-play and started again on the same socket: meanwhile the stream
// reads as stalled and its position stands; afterwards the tone is heard again, at the
// volume the program had set.
TEST_F(PulseOutputTest, PlaybackGoesOnWhenTheServerComesBack)
{
    startRecording();
    const HSTREAM stream = playTone(550);
    ASSERT_TRUE(BASS_SetOutputVolume(0.5f));
    ASSERT_TRUE(waitUntil([&] { return toneInLastWindow(*recording_, 550, 0.8 * kFullTone * 0.125); }));
    recording_.reset();

    pulse_->kill();
    const auto lost = Clock::now();
    ASSERT_TRUE(waitUntil([&] { return BASS_ChannelIsActive(stream) == BASS_ACTIVE_STALLED; }))
        << "state " << BASS_ChannelIsActive(stream) << " with the server gone";
    std::cout << "server gone noticed after " << std::chrono::duration<double>(Clock::now() - lost).count() << " s\n";
    const QWORD stoppedAt = BASS_ChannelGetPosition(stream, BASS_POS_BYTE);
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(BASS_ChannelIsActive(stream), BASS_ACTIVE_STALLED);
    EXPECT_EQ(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), stoppedAt) << "the position ran on without sound";

    ASSERT_TRUE(pulse_->start()) << "the server did not start again";
    const auto back = Clock::now();
    ASSERT_TRUE(waitUntil([&] { return BASS_ChannelIsActive(stream) == BASS_ACTIVE_PLAYING; }));
    std::cout << "server answering again to the stream playing: "
              << std::chrono::duration<double>(Clock::now() - back).count() << " s\n";
    startRecording();
    ASSERT_TRUE(waitUntil([&] { return toneInLastWindow(*recording_, 550, 0.8 * kFullTone * 0.125); }))
        << "the tone was not heard after the server came back";
    EXPECT_GT(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), stoppedAt);
    const auto inputs = sinkInputs(*pulse_);
    ASSERT_EQ(inputs.size(), 1u);
    EXPECT_EQ(inputs[0].volumePercent, 50) << "the volume was not kept across the reconnect";
}

// A frozen server (SIGSTOP) cannot hold BASS_Init: the attempt ends within its bound (this
// test's timeout) and falls back to SDL on a driver that is not PulseAudio, or fails.
TEST_F(PulseOutputTest, AFrozenServerAtStartEndsTheAttemptAndFallsBack)
{
    struct Case {
        const char* sdlDriver;
        const char* expected; // the output chosen; null: either SDL or none
    };
    pulse_->freeze();
    for (const Case c : {Case{"pulseaudio,dummy", "sdl"}, Case{nullptr, nullptr}}) {
        SCOPED_TRACE(c.sdlDriver ? c.sdlDriver : "SDL_AUDIODRIVER unset");
        ScopedEnv driver("SDL_AUDIODRIVER", c.sdlDriver ? std::optional<std::string>(c.sdlDriver) : std::nullopt);
        audio::DeviceOutput output;
        audio::OutputCallbacks callbacks;
        callbacks.render = [](int16_t* out, int frames, int) {
            std::fill(out, out + frames * 2, int16_t{0});
            return false;
        };
        const auto start = Clock::now();
        const bool opened = output.open(callbacks);
        std::cout << "open with a frozen server ended after "
                  << std::chrono::duration<double>(Clock::now() - start).count() << " s on " << output.name() << "\n";
        if (c.expected) {
            EXPECT_TRUE(opened);
            EXPECT_STREQ(output.name(), c.expected);
        } else {
            EXPECT_NE(std::string(output.name()), "pulse");
            EXPECT_EQ(opened, std::string(output.name()) == "sdl");
        }
        output.close();
    }
}

class SinklessPulseTest : public PulseOutputTest {
protected:
    bool withSink() const override { return false; }
};

// The server takes the connection but refuses the stream (it has no sink): the output falls
// back as when no server answers.
TEST_F(SinklessPulseTest, AStreamRefusedAfterTheConnectFallsBack)
{
    ScopedEnv driver("SDL_AUDIODRIVER", "pulseaudio,dummy");
    audio::DeviceOutput output;
    audio::OutputCallbacks callbacks;
    callbacks.render = [](int16_t* out, int frames, int) {
        std::fill(out, out + frames * 2, int16_t{0});
        return false;
    };
    ASSERT_TRUE(output.open(callbacks));
    EXPECT_STREQ(output.name(), "sdl");
    output.close();
}

struct ChoiceCase {
    const char* name;
    std::optional<std::string> sdlDriver;
    bool serverReachable;
    const char* expected;
};

void PrintTo(const ChoiceCase& choice, std::ostream* out)
{
    *out << choice.name;
}

class OutputChoiceTest : public PulseOutputTest, public ::testing::WithParamInterface<ChoiceCase> {};

TEST_P(OutputChoiceTest, TheDefaultDeviceFollowsTheEnvironmentAndTheServer)
{
    const auto& choice = GetParam();
    ScopedEnv driver("SDL_AUDIODRIVER", choice.sdlDriver);
    ScopedEnv diskFile("SDL_DISKAUDIOFILE", "/dev/null");
    const std::string missing = "unix:" + pulse_->directory() + "/no-such-socket";
    ScopedEnv server("PULSE_SERVER", choice.serverReachable ? pulse_->server() : missing);
    const auto output = audio::takeAudioOutput();
    audio::OutputCallbacks callbacks;
    callbacks.render = [](int16_t* out, int frames, int) {
        std::fill(out, out + frames * 2, int16_t{0});
        return false;
    };
    ASSERT_TRUE(output->open(callbacks));
    EXPECT_STREQ(output->name(), choice.expected);
    output->close();
}

INSTANTIATE_TEST_SUITE_P(
    Environments, OutputChoiceTest,
    ::testing::Values(ChoiceCase{"DriverUnset", std::nullopt, true, "pulse"},
                      ChoiceCase{"DriverPulseaudio", "pulseaudio", true, "pulse"},
                      ChoiceCase{"DriverPipewire", "pipewire", true, "pulse"},
                      ChoiceCase{"DriverDummy", "dummy", true, "sdl"}, ChoiceCase{"DriverDisk", "disk", true, "sdl"},
                      ChoiceCase{"NoServerFallsBackToTheNextDriver", "pulseaudio,dummy", false, "sdl"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(PulseOutputTest, AnInjectedOutputComesFirst)
{
    auto memory = std::make_shared<audio::MemoryOutput>();
    audio::injectAudioOutput(memory);
    EXPECT_EQ(audio::takeAudioOutput(), memory);
    audio::injectAudioOutput(nullptr);
}

} // namespace
} // namespace vornel::test
