#include "tests/support/x_session.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace vornel::test {
namespace {

constexpr int kStartTimeoutMs = 15000;

pid_t spawn(const std::string& command, int keepFd = -1)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        for (int fd = 3; fd < 1024; ++fd) {
            if (fd != keepFd)
                ::close(fd);
        }
        ::execl("/bin/sh", "sh", "-c", ("exec " + command).c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return pid;
}

std::string readDisplayNumber(int fd)
{
    std::string number;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, 100) <= 0)
            continue;
        char c = 0;
        if (::read(fd, &c, 1) != 1)
            break;
        if (c == '\n')
            return number;
        number += c;
    }
    return "";
}

bool waitForExit(pid_t pid, int timeoutMs, int& status)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

} // namespace

XSession::~XSession()
{
    stopProgram(server_);
}

bool XSession::start(std::string& whyNot)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        whyNot = "pipe failed";
        return false;
    }
    server_ = spawn("Xvfb -displayfd " + std::to_string(pipeFds[1]) +
                        " -nolisten tcp -noreset -screen 0 1024x768x24 2>/dev/null",
                    pipeFds[1]);
    ::close(pipeFds[1]);
    const std::string number = readDisplayNumber(pipeFds[0]);
    ::close(pipeFds[0]);
    if (server_ < 0 || number.empty()) {
        whyNot = "Xvfb did not start (is it installed? scripts/install-deps)";
        stopProgram(server_);
        server_ = -1;
        return false;
    }
    display_ = ":" + number;
    ::setenv("DISPLAY", display_.c_str(), 1);
    return true;
}

pid_t startProgram(const std::string& program, const std::string& arguments)
{
    return spawn(program + " " + arguments + " >/dev/null 2>&1");
}

void stopProgram(pid_t pid)
{
    if (pid <= 0)
        return;
    ::kill(pid, SIGTERM);
    int status = 0;
    if (!waitForExit(pid, 5000, status)) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
}

bool runProgram(const std::string& program, const std::string& arguments)
{
    const pid_t pid = startProgram(program, arguments);
    int status = 0;
    if (pid < 0)
        return false;
    if (!waitForExit(pid, 10000, status)) {
        stopProgram(pid);
        return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace vornel::test
