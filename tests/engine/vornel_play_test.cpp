// The vornel-play tool end to end: a loopback server, SDL's disk driver as the device.
#include "tests/engine/engine_test_support.h"

#include <cstdio>
#include <cstring>
#include <sys/wait.h>
#include <filesystem>
#include <fstream>
#include <sstream>

#ifdef VORNEL_PLAY_PATH

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
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "vornel-play-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    ToolRun play(const std::string& arguments) {
        const fs::path raw = dir_ / "out.raw";
        const std::string command = "SDL_AUDIODRIVER=disk SDL_DISKAUDIODELAY=0 SDL_DISKAUDIOFILE='" + raw.string() +
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
        if (!run.sound.empty()) std::memcpy(run.sound.data(), bytes.data(), run.sound.size() * 2);
        return run;
    }

    ScriptedServer server_;
    fs::path dir_;
};

std::vector<int16_t> loudestSecond(const std::vector<int16_t>& sound) {
    // The device keeps writing silence around the track; take the second with the most energy.
    const size_t second = 44100 * 2;
    std::vector<int16_t> best;
    double bestEnergy = -1;
    for (size_t at = 0; at + second <= sound.size(); at += second / 4) {
        std::vector<int16_t> piece(sound.begin() + static_cast<long>(at), sound.begin() + static_cast<long>(at + second));
        const double energy = rms(piece);
        if (energy > bestEnergy) {
            bestEnergy = energy;
            best = std::move(piece);
        }
    }
    return best;
}

TEST_F(VornelPlayTest, PlaysTheToneAndReportsEachStep) {
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

TEST_F(VornelPlayTest, ReportsAFailedOpen) {
    Route missing{"gone", "text/plain"};
    missing.status = 404;
    server_.addRoute("/missing.mp3", missing);
    const ToolRun run = play(server_.url("/missing.mp3"));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, "status: HTTP/1.1 404 Not Found\nerror: open failed (code " +
                              std::to_string(BASS_ERROR_FILEOPEN) + ")\n");
}

} // namespace
} // namespace vornel::test

#endif
