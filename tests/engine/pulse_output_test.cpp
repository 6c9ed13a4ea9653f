// The libpulse output against a private PulseAudio server with a null sink: what the engine
// plays is recorded from the sink's monitor and checked, and the choice of output follows
// the environment and the server's presence.
#include "tests/engine/engine_test_support.h"

#include "playback/engine/pulse_output.h"
#include "playback/engine/sdl_output.h"

#include <atomic>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sys/wait.h>
#include <unistd.h>

namespace vornel::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Starts a program with extra environment entries, its output going to outputFile.
pid_t spawn(const std::vector<std::string>& arguments, std::vector<std::string> environment,
            const std::string& outputFile = "/dev/null")
{
    const size_t extras = environment.size();
    for (char** entry = environ; *entry; ++entry) {
        const std::string_view inherited(*entry);
        const auto overridden = [&](size_t i) {
            const std::string_view extra(environment[i]);
            return inherited.substr(0, inherited.find('=') + 1) == extra.substr(0, extra.find('=') + 1);
        };
        bool keep = true;
        for (size_t i = 0; i < extras && keep; ++i)
            keep = !overridden(i);
        if (keep)
            environment.emplace_back(inherited);
    }
    std::vector<char*> argv, envp;
    for (auto& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    for (auto& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&files, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &files, nullptr, argv.data(), envp.data()) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&files);
    return pid;
}

void stop(pid_t pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

bool onPath(const std::string& program)
{
    return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

// Sets or clears an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old;
        set(value);
    }
    ~ScopedEnv() { set(old_); }

private:
    void set(const std::optional<std::string>& value)
    {
        if (value)
            setenv(name_, value->c_str(), 1);
        else
            unsetenv(name_);
    }
    const char* name_;
    std::optional<std::string> old_;
};

// A PulseAudio daemon of the test's own, with a null sink "test", on a socket in a fresh
// directory that is also its runtime and home directory.
class PrivatePulse {
public:
    PrivatePulse()
    {
        char pattern[] = "/tmp/vornel-pulse-test-XXXXXX";
        directory_ = mkdtemp(pattern);
        const std::string socket = directory_ + "/native";
        server_ = "unix:" + socket;
        pid_ = spawn({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
                      "--disable-shm=yes", "--load=module-null-sink sink_name=test",
                      "--load=module-native-protocol-unix socket=" + socket + " auth-anonymous=1"},
                     {"XDG_RUNTIME_DIR=" + directory_, "HOME=" + directory_});
        ready_ = waitUntil([&] {
            ScopedEnv env("PULSE_SERVER", server_);
            return audio::PulseOutput().connect();
        });
    }
    ~PrivatePulse()
    {
        stop(pid_);
        fs::remove_all(directory_);
    }
    bool ready() const { return ready_; }
    const std::string& server() const { return server_; }
    const std::string& directory() const { return directory_; }

private:
    std::string directory_, server_;
    pid_t pid_ = -1;
    bool ready_ = false;
};

class PulseOutputTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!onPath("pulseaudio"))
            GTEST_SKIP() << "the pulseaudio binary is not installed (scripts/install-deps installs it)";
        audio::injectAudioOutput(nullptr);
        pulse_.emplace();
        ASSERT_TRUE(pulse_->ready()) << "the private PulseAudio server did not start";
        server_.emplace("PULSE_SERVER", pulse_->server());
        driver_.emplace("SDL_AUDIODRIVER", std::nullopt);
        startRecording();
    }
    void TearDown() override { stop(recorder_); }

    // Records the null sink's monitor (S16LE stereo 44100) until stopRecording. An idle null
    // sink sleeps in blocks of up to 2 s and takes a new latency only when it wakes: the
    // first recorded bytes show it runs in short blocks, as under a playing stream.
    void startRecording()
    {
        recording_ = pulse_->directory() + "/monitor.raw";
        recorder_ = spawn(
            {"parec", "-d", "test.monitor", "--format=s16le", "--rate=44100", "--channels=2", "--latency-msec=20"},
            {"PULSE_SERVER=" + pulse_->server()}, recording_);
        ASSERT_TRUE(waitUntil([&] { return fs::exists(recording_) && fs::file_size(recording_) > 0; }))
            << "nothing came from the null sink's monitor";
        recordingFrom_ = fs::file_size(recording_);
    }
    // What the monitor recorded since the sink woke.
    std::vector<int16_t> stopRecording()
    {
        stop(recorder_);
        recorder_ = -1;
        std::ifstream in(recording_, std::ios::binary);
        in.seekg(static_cast<std::streamoff>(recordingFrom_ & ~size_t{3}));
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::vector<int16_t> samples(bytes.size() / sizeof(int16_t));
        std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(int16_t));
        return samples;
    }

    std::optional<PrivatePulse> pulse_;
    std::optional<ScopedEnv> server_, driver_;
    std::string recording_;
    size_t recordingFrom_ = 0;
    pid_t recorder_ = -1;
};

std::vector<int16_t> slice(const std::vector<int16_t>& stereo, size_t firstFrame, size_t frames)
{
    firstFrame = std::min(firstFrame, stereo.size() / 2);
    frames = std::min(frames, stereo.size() / 2 - firstFrame);
    return {stereo.begin() + firstFrame * 2, stereo.begin() + (firstFrame + frames) * 2};
}

// The left channel's frequency from its rising zero crossings.
double zeroCrossingFrequency(const std::vector<int16_t>& stereo)
{
    int rising = 0;
    for (size_t i = 2; i < stereo.size(); i += 2)
        rising += stereo[i - 2] < 0 && stereo[i] >= 0;
    return rising * 44100.0 / (static_cast<double>(stereo.size()) / 2);
}

TEST_F(PulseOutputTest, EnginePlaysTheToneAtItsPitchAndPauseSilencesIt)
{
    ScriptedServer http;
    http.addRoute("/tone.mp3", Route{makeToneMp3({.frequency = 440, .seconds = 6}), "audio/mpeg"});
    ASSERT_TRUE(BASS_Init(-1, 44100, 0, nullptr, nullptr)) << BASS_ErrorGetCode();
    const HSTREAM stream =
        BASS_StreamCreateURL(http.url("/tone.mp3").c_str(), 0, BASS_STREAM_AUTOFREE, nullptr, nullptr);
    ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
    ASSERT_TRUE(BASS_ChannelPlay(stream, false));
    std::this_thread::sleep_for(1500ms);
    ASSERT_TRUE(BASS_ChannelPause(stream));
    std::this_thread::sleep_for(1000ms);
    const auto recorded = stopRecording();
    BASS_Free();

    // Somewhere a whole 0.25 s of recording is the tone; the last 0.25 s, recorded from
    // 0.75 s after the pause on, is silent.
    constexpr size_t kWindow = 11025;
    ASSERT_GT(recorded.size() / 2, 2 * kWindow) << "too little was recorded";
    double bestAmplitude = 0, pitch = 0;
    for (size_t start = 0; start + kWindow <= recorded.size() / 2; start += kWindow / 10) {
        const auto window = slice(recorded, start, kWindow);
        const double amplitude = toneAmplitude(window, 0, 440);
        if (amplitude > bestAmplitude) {
            bestAmplitude = amplitude;
            pitch = zeroCrossingFrequency(window);
        }
    }
    EXPECT_GT(bestAmplitude, 0.4 * 32767 * 0.5) << "the tone was not heard on the sink";
    EXPECT_NEAR(pitch, 440, 8);
    const auto tail = slice(recorded, recorded.size() / 2 - kWindow, kWindow);
    EXPECT_LT(rms(tail), 30) << "sound went on after the pause";
}

TEST_F(PulseOutputTest, CloseStopsRenderingAndTheOutputOpensAgain)
{
    audio::PulseOutput output;
    for (int round = 0; round < 2; ++round) {
        auto renders = std::make_shared<std::atomic<int>>(0);
        ASSERT_TRUE(output.open(
            [renders](int16_t* out, int frames) {
                std::fill(out, out + frames * 2, int16_t{0});
                ++*renders;
            },
            nullptr));
        // Past the first timing the server sends, a second into playback.
        ASSERT_TRUE(waitUntil([&] { return *renders > 40; }));
        EXPECT_GT(output.latencyFrames(), 0);
        EXPECT_LT(output.latencyFrames(), 44100 * 15 / 100) << "more than 150 ms between mixer and listener";
        output.close();
        const int afterClose = *renders;
        std::this_thread::sleep_for(200ms);
        EXPECT_EQ(*renders, afterClose) << "render was called after close returned";
    }
}

struct ChoiceCase {
    const char* name;
    std::optional<std::string> sdlDriver;
    bool serverReachable;
    bool expectPulse;
};

void PrintTo(const ChoiceCase& choice, std::ostream* out)
{
    *out << choice.name;
}

class OutputChoiceTest : public PulseOutputTest, public ::testing::WithParamInterface<ChoiceCase> {};

TEST_P(OutputChoiceTest, TakeAudioOutputPicksTheDevice)
{
    const auto& choice = GetParam();
    ScopedEnv driver("SDL_AUDIODRIVER", choice.sdlDriver);
    const std::string missing = "unix:" + pulse_->directory() + "/no-such-socket";
    ScopedEnv server("PULSE_SERVER", choice.serverReachable ? pulse_->server() : missing);
    const auto output = audio::takeAudioOutput();
    if (choice.expectPulse)
        EXPECT_NE(std::dynamic_pointer_cast<audio::PulseOutput>(output), nullptr);
    else
        EXPECT_NE(std::dynamic_pointer_cast<audio::SdlOutput>(output), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Environments, OutputChoiceTest,
                         ::testing::Values(ChoiceCase{"DriverUnset", std::nullopt, true, true},
                                           ChoiceCase{"DriverPulseaudio", "pulseaudio", true, true},
                                           ChoiceCase{"DriverPipewire", "pipewire", true, true},
                                           ChoiceCase{"DriverDummy", "dummy", true, false},
                                           ChoiceCase{"DriverDisk", "disk", true, false},
                                           ChoiceCase{"NoServer", std::nullopt, false, false}),
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
