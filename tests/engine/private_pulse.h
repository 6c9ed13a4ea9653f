#pragma once
// A PulseAudio daemon of a test's own, and what the tests do with it: record its null
// sink's monitor, ask it with pactl, and kill, restart, freeze and thaw it as a desktop's
// sound server comes and goes.
#include "tests/support/temp_folder.h"

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace vornel::test {

// Starts a program with extra environment entries, its output going to outputFile.
pid_t spawn(const std::vector<std::string>& arguments, std::vector<std::string> environment,
            const std::string& outputFile = "/dev/null");
// SIGTERM, then waits for it.
void stopProcess(pid_t pid);
bool onPath(const std::string& program);

// Sets or clears an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<std::string> value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    void set(const std::optional<std::string>& value);
    const char* name_;
    std::optional<std::string> old_;
};

// The daemon, with a null sink "test" unless told otherwise, on a socket in a fresh
// directory that is also its runtime and home directory. It never exits by itself.
class PrivatePulse {
public:
    explicit PrivatePulse(bool withSink = true);
    ~PrivatePulse();
    PrivatePulse(const PrivatePulse&) = delete;
    PrivatePulse& operator=(const PrivatePulse&) = delete;

    // Starts the daemon (again, on the same socket); true once it answers.
    bool start();
    // Kills it by its PID (SIGKILL, as a crash) and waits until it is gone.
    void kill();
    void freeze();
    void thaw();
    bool ready() const { return ready_; }
    const std::string& server() const { return server_; }
    const std::string& directory() const { return folder_.path(); }
    // pactl against this server: its standard output, or nullopt when it failed.
    std::optional<std::string> pactl(const std::string& arguments) const;

private:
    bool withSink_;
    TempFolder folder_{"vornel-pulse-test"};
    std::string socket_, server_;
    pid_t pid_ = -1;
    bool ready_ = false;
    bool frozen_ = false;
};

// Records the null sink's monitor (S16LE stereo 44100) into a file until stop().
class MonitorRecording {
public:
    // True once the first bytes arrived. An idle null sink sleeps in blocks of up to 2 s and
    // takes a new latency only when it wakes: the first bytes show it runs in short blocks.
    bool start(const PrivatePulse& pulse, const std::string& file);
    // What was recorded since the start, as interleaved stereo samples.
    std::vector<int16_t> stop();
    // What has been recorded so far, without stopping.
    std::vector<int16_t> samples() const;
    ~MonitorRecording();

private:
    std::string file_;
    size_t from_ = 0;
    pid_t pid_ = -1;
};

// Sink inputs of the server, as pactl lists them.
struct SinkInput {
    unsigned index = 0;
    bool corked = false;
    int volumePercent = -1; // the first channel's
};
std::vector<SinkInput> sinkInputs(const PrivatePulse& pulse);

} // namespace vornel::test
