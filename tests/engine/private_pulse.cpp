#include "tests/engine/private_pulse.h"

#include "tests/engine/engine_test_support.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>

namespace vornel::test {

namespace fs = std::filesystem;

pid_t spawn(const std::vector<std::string>& arguments, std::vector<std::string> environment,
            const std::string& outputFile)
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

void stopProcess(pid_t pid)
{
    if (pid <= 0)
        return;
    ::kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

bool onPath(const std::string& program)
{
    return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

ScopedEnv::ScopedEnv(const char* name, std::optional<std::string> value) : name_(name)
{
    if (const char* old = std::getenv(name))
        old_ = old;
    set(value);
}

ScopedEnv::~ScopedEnv()
{
    set(old_);
}

void ScopedEnv::set(const std::optional<std::string>& value)
{
    if (value)
        setenv(name_, value->c_str(), 1);
    else
        unsetenv(name_);
}

PrivatePulse::PrivatePulse(bool withSink) : withSink_(withSink)
{
    socket_ = folder_.file("native");
    server_ = "unix:" + socket_;
    ready_ = start();
}

PrivatePulse::~PrivatePulse()
{
    thaw();
    stopProcess(pid_);
}

bool PrivatePulse::start()
{
    std::vector<std::string> arguments = {
        "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no", "--disable-shm=yes"};
    if (withSink_)
        arguments.emplace_back("--load=module-null-sink sink_name=test");
    arguments.push_back("--load=module-native-protocol-unix socket=" + socket_ + " auth-anonymous=1");
    pid_ = spawn(arguments, {"XDG_RUNTIME_DIR=" + folder_.path(), "HOME=" + folder_.path()});
    return pid_ > 0 && waitUntil([&] { return pactl("info").has_value(); });
}

void PrivatePulse::kill()
{
    thaw();
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

void PrivatePulse::freeze()
{
    if (pid_ > 0 && !frozen_ && ::kill(pid_, SIGSTOP) == 0)
        frozen_ = true;
}

void PrivatePulse::thaw()
{
    if (pid_ > 0 && frozen_ && ::kill(pid_, SIGCONT) == 0)
        frozen_ = false;
}

std::optional<std::string> PrivatePulse::pactl(const std::string& arguments) const
{
    const std::string command = "PULSE_SERVER='" + server_ + "' timeout 10 pactl " + arguments + " 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return std::nullopt;
    std::string output;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, n);
    const int status = pclose(pipe);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    return output;
}

bool MonitorRecording::start(const PrivatePulse& pulse, const std::string& file)
{
    file_ = file;
    pid_ = spawn({"parec", "-d", "test.monitor", "--format=s16le", "--rate=44100", "--channels=2", "--latency-msec=20"},
                 {"PULSE_SERVER=" + pulse.server()}, file_);
    if (pid_ <= 0 || !waitUntil([&] { return fs::exists(file_) && fs::file_size(file_) > 0; }))
        return false;
    from_ = fs::file_size(file_);
    return true;
}

std::vector<int16_t> MonitorRecording::samples() const
{
    std::ifstream in(file_, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(from_ & ~size_t{3}));
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<int16_t> samples(bytes.size() / 4 * 2);
    if (!samples.empty())
        std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(int16_t));
    return samples;
}

std::vector<int16_t> MonitorRecording::stop()
{
    stopProcess(pid_);
    pid_ = -1;
    return samples();
}

MonitorRecording::~MonitorRecording()
{
    stopProcess(pid_);
}

std::vector<SinkInput> sinkInputs(const PrivatePulse& pulse)
{
    std::vector<SinkInput> inputs;
    const auto listing = pulse.pactl("list sink-inputs");
    if (!listing)
        return inputs;
    std::istringstream lines(*listing);
    for (std::string line; std::getline(lines, line);) {
        const auto text = line.substr(
            line.find_first_not_of(" \t") == std::string::npos ? line.size() : line.find_first_not_of(" \t"));
        if (text.rfind("Sink Input #", 0) == 0) {
            inputs.push_back({static_cast<unsigned>(std::stoul(text.substr(12))), false, -1});
        } else if (!inputs.empty() && text.rfind("Corked: ", 0) == 0) {
            inputs.back().corked = text.substr(8) == "yes";
        } else if (!inputs.empty() && text.rfind("Volume: ", 0) == 0 && inputs.back().volumePercent < 0) {
            const size_t slash = text.find('/');
            const size_t percent = text.find('%', slash);
            if (slash != std::string::npos && percent != std::string::npos)
                inputs.back().volumePercent = std::stoi(text.substr(slash + 1, percent - slash - 1));
        }
    }
    return inputs;
}

} // namespace vornel::test
