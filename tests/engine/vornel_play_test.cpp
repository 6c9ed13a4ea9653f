// The vornel-play tool end to end: a loopback server, SDL's disk driver (real time) or a
// private PulseAudio server as the device.
#include "tests/engine/engine_test_support.h"
#include "tests/engine/private_pulse.h"
#include "tests/support/temp_folder.h"

#include <cstdio>
#include <iostream>
#include <cstring>
#include <csignal>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace vornel::test {
namespace {

namespace fs = std::filesystem;

struct ToolRun {
    int status = -1;
    std::string output;
    std::vector<int16_t> sound;
};

class VornelPlayTest : public ::testing::Test {
protected:
    ToolRun play(const std::string& arguments)
    {
        const fs::path raw = dir_ / "out.raw";
        // The disk driver in real time, as a device plays: the engine decodes ahead of the
        // device at the pace of playback, not as fast as a device could take samples.
        const std::string command = "SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE='" + raw.string() +
                                    "' timeout 60 '" VORNEL_PLAY_PATH "' " + arguments + " 2>/dev/null";
        ToolRun run;
        FILE* pipe = popen(command.c_str(), "r");
        char buffer[4096];
        for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            run.output.append(buffer, n);
        const int status = pclose(pipe);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::ifstream in(raw, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        run.sound.resize(bytes.size() / 2);
        if (!run.sound.empty())
            std::memcpy(run.sound.data(), bytes.data(), run.sound.size() * 2);
        return run;
    }

    ScriptedServer server_;
    TempFolder folder_{"vornel-play"};
    const fs::path dir_ = folder_.path();
};

std::vector<int16_t> loudestSecond(const std::vector<int16_t>& sound)
{
    // The device keeps writing silence around the track; take the second with the most energy.
    const size_t second = 44100 * 2;
    std::vector<int16_t> best;
    double bestEnergy = -1;
    for (size_t at = 0; at + second <= sound.size(); at += second / 4) {
        std::vector<int16_t> piece(sound.begin() + static_cast<long>(at),
                                   sound.begin() + static_cast<long>(at + second));
        const double energy = rms(piece);
        if (energy > bestEnergy) {
            bestEnergy = energy;
            best = std::move(piece);
        }
    }
    return best;
}

TEST_F(VornelPlayTest, PlaysTheToneAndReportsEachStep)
{
    for (const bool blocks : {false, true}) {
        SCOPED_TRACE(blocks ? "block mode" : "normal mode");
        Route route{makeToneMp3({.frequency = 700, .seconds = 3}), "audio/mpeg"};
        route.extraHeaders = {"icy-name:Loopback FM", "icy-br:128", "icy-genre:none"};
        server_.addRoute("/tone.mp3", route);
        const ToolRun run = play(std::string(blocks ? "--blocks " : "") + server_.url("/tone.mp3"));
        EXPECT_EQ(run.status, 0) << run.output;
        std::istringstream lines(run.output);
        std::vector<std::string> steps;
        for (std::string line; std::getline(lines, line);)
            if (line.rfind("position: ", 0) != 0 && line.rfind("buffering: ", 0) != 0)
                steps.push_back(line);
        EXPECT_EQ(steps, (std::vector<std::string>{"status: HTTP/1.1 200 OK", "tag: icy-name:Loopback FM",
                                                   "tag: icy-br:128", "playing", "ended"}));
        EXPECT_NE(run.output.find("buffering: "), std::string::npos);
        const auto second = loudestSecond(run.sound);
        EXPECT_GT(toneAmplitude(second, 0, 700), 0.4 * 32767);
        EXPECT_GT(toneAmplitude(second, 1, 700), 0.4 * 32767);
    }
}

TEST_F(VornelPlayTest, PlaysTheMixedRateAndStrayFrameInputsToTheirEnd)
{
    for (const std::string name : {"mixed-rate-44k-then-48k.mp3", "stray-48k-frame-at-end.mp3"}) {
        SCOPED_TRACE(name);
        server_.addRoute("/" + name, Route::fromFile(std::string(VORNEL_ENGINE_TEST_DATA) + "/" + name));
        const ToolRun run = play(server_.url("/" + name));
        EXPECT_EQ(run.status, 0) << run.output;
        EXPECT_NE(run.output.find("playing\n"), std::string::npos) << run.output;
        EXPECT_NE(run.output.find("ended\n"), std::string::npos) << run.output;
    }
}

// The device is never opened: SDL's disk driver would have made its file.
TEST_F(VornelPlayTest, HelpPrintsTheUsageAndExitsWithoutOpeningTheDevice)
{
    const ToolRun run = play("--help");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.output.rfind("usage: vornel-play [--blocks] URL\n", 0), 0u) << run.output;
    EXPECT_EQ(run.output.find("error"), std::string::npos) << run.output;
    EXPECT_FALSE(fs::exists(dir_ / "out.raw"));
}

TEST_F(VornelPlayTest, ReportsAFailedOpen)
{
    Route missing{"gone", "text/plain"};
    missing.status = 404;
    server_.addRoute("/missing.mp3", missing);
    const ToolRun run = play(server_.url("/missing.mp3"));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, "status: HTTP/1.1 404 Not Found\nerror: open failed (code " +
                              std::to_string(BASS_ERROR_FILEOPEN) + ")\n");
}

// vornel-play on the SDL dummy device (real time) unless the environment says otherwise,
// with its output read line by line.
class RunningTool {
public:
    // environment: entries that replace inherited ones; "NAME=" removes NAME.
    explicit RunningTool(const std::string& url, const std::vector<std::string>& overrides = {"SDL_AUDIODRIVER=dummy"})
    {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        std::string path = VORNEL_PLAY_PATH;
        char* argv[] = {path.data(), const_cast<char*>(url.c_str()), nullptr};
        std::vector<std::string> environment;
        const auto replaced = [&](const char* entry) {
            for (const auto& o : overrides)
                if (std::strncmp(entry, o.c_str(), o.find('=') + 1) == 0)
                    return true;
            return false;
        };
        for (const auto& o : overrides)
            if (o.back() != '=')
                environment.push_back(o);
        for (char** e = environ; *e; ++e)
            if (!replaced(*e))
                environment.emplace_back(*e);
        std::vector<char*> envp;
        for (auto& e : environment)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        if (posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv, envp.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        out_ = fds[0];
    }
    ~RunningTool()
    {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0)
            close(out_);
    }

    // Reads output until it holds the text or the time is up.
    bool waitForOutput(const std::string& text, Millis limit)
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (output_.find(text) == std::string::npos) {
            const auto left = std::chrono::duration_cast<Millis>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !readSome(left))
                return output_.find(text) != std::string::npos;
        }
        return true;
    }
    // The exit status, or -1 when the tool has not ended within the limit.
    int waitForExit(Millis limit)
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                while (readSome(Millis(100))) {}
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(Millis(10));
        }
        return -1;
    }
    pid_t pid() const { return pid_; }
    const std::string& output() const { return output_; }

private:
    bool readSome(Millis limit)
    {
        pollfd p{out_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(limit.count())) <= 0)
            return false;
        char buffer[1024];
        const ssize_t n = read(out_, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        output_.append(buffer, static_cast<size_t>(n));
        return true;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    bool exited_ = false;
    std::string output_;
};

TEST(VornelPlaySignalTest, SigintOrSigtermEndsItAtOnceWithTheStreamFreed)
{
    struct Case {
        int signal;
        const char* waitFor;
        bool serverSilent;
    };
    for (const Case c : {Case{SIGINT, "playing", false}, Case{SIGTERM, "playing", false}, Case{SIGINT, "", true}}) {
        SCOPED_TRACE(testing::Message() << "signal " << c.signal
                                        << (c.serverSilent ? " while opening" : " while playing"));
        ScriptedServer server;
        server.addRoute("/long.mp3", Route{makeToneMp3({.frequency = 500, .seconds = 60}), "audio/mpeg"});
        if (c.serverSilent)
            server.addConnection(ConnectionScript().expectHead().wait(Millis(20000)));
        RunningTool tool(server.url(c.serverSilent ? "/silent.mp3" : "/long.mp3"));
        ASSERT_GT(tool.pid(), 0);
        if (c.serverSilent)
            ASSERT_TRUE(waitUntil([&] { return server.requestHeads().size() == 1; }));
        else
            ASSERT_TRUE(tool.waitForOutput(c.waitFor, Millis(10000))) << tool.output();
        kill(tool.pid(), c.signal);
        EXPECT_EQ(tool.waitForExit(Millis(5000)), 128 + c.signal) << tool.output();
        EXPECT_NE(tool.output().find("interrupted\n"), std::string::npos) << tool.output();
        EXPECT_EQ(tool.output().find("ended"), std::string::npos);
    }
}

// On a private PulseAudio server: SIGTERM ends the tool while the server is frozen at the
// start (the output is being opened), and while it is gone or frozen mid-play.
TEST(VornelPlaySignalTest, SigtermEndsItWhateverTheSoundServerDoes)
{
    if (!onPath("pulseaudio") || !onPath("pactl"))
        GTEST_SKIP() << "pulseaudio and pulseaudio-utils are not installed (scripts/install-deps installs them)";
    enum class Server { FrozenAtStart, GoneMidPlay, FrozenMidPlay };
    for (const Server state : {Server::FrozenAtStart, Server::GoneMidPlay, Server::FrozenMidPlay}) {
        const char* name = state == Server::FrozenAtStart ? "frozen at start"
                           : state == Server::GoneMidPlay ? "gone mid-play"
                                                          : "frozen mid-play";
        SCOPED_TRACE(name);
        PrivatePulse pulse;
        ASSERT_TRUE(pulse.ready());
        ScriptedServer server;
        server.addRoute("/long.mp3", Route{makeToneMp3({.frequency = 500, .seconds = 60}), "audio/mpeg"});
        if (state == Server::FrozenAtStart)
            pulse.freeze();
        RunningTool tool(server.url("/long.mp3"), {"PULSE_SERVER=" + pulse.server(), "SDL_AUDIODRIVER="});
        ASSERT_GT(tool.pid(), 0);
        if (state == Server::FrozenAtStart) {
            std::this_thread::sleep_for(Millis(1000)); // inside BASS_Init, waiting for the server
        } else {
            ASSERT_TRUE(tool.waitForOutput("playing\n", Millis(10000))) << tool.output();
            if (state == Server::GoneMidPlay)
                pulse.kill();
            else
                pulse.freeze();
            std::this_thread::sleep_for(Millis(1500));
        }
        const auto signalled = std::chrono::steady_clock::now();
        kill(tool.pid(), SIGTERM);
        EXPECT_EQ(tool.waitForExit(Millis(20000)), 128 + SIGTERM) << tool.output();
        std::cout << name << ": SIGTERM to exit "
                  << std::chrono::duration<double>(std::chrono::steady_clock::now() - signalled).count() << " s\n";
        EXPECT_NE(tool.output().find("interrupted\n"), std::string::npos) << tool.output();
    }
}

} // namespace
} // namespace vornel::test
