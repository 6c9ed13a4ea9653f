#include "demo/mp3_encoder.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vornel::demo {
namespace {

bool writeAll(int fd, const void* data, std::size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Starts lame reading raw PCM from the returned pipe end; -1 when it cannot start.
pid_t startLame(const std::string& outPath, int& pcmWriteEnd)
{
    int fds[2];
    // Close-on-exec on both ends: lame processes started in parallel must not inherit one
    // another's pipes, or none of them would ever see the end of its input.
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], STDIN_FILENO);
    // lame warns on every raw-input run when built with libsndfile; its exit status is
    // what tells a failure.
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    const char* argv[] = {
        "lame", "--quiet", "-r", "-s",  "44.1", "--bitwidth", "16", "--signed",      "--little-endian",
        "-m",   "m",       "-b", "128", "-q",   "7",          "-",  outPath.c_str(), nullptr};
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, "lame", &actions, &attr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(fds[0]);
    if (rc != 0) {
        ::close(fds[1]);
        errno = rc;
        return -1;
    }
    pcmWriteEnd = fds[1];
    return pid;
}

int waitExit(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

std::string encodeMp3(const std::vector<std::int16_t>& samples, const std::string& path)
{
    const std::string partial = path + ".part" + std::to_string(::getpid());
    int pcm = -1;
    const pid_t pid = startLame(partial, pcm);
    if (pid < 0)
        return std::string("cannot run lame: ") + std::strerror(errno);
    // The samples are written as they lie in memory: this runs on little-endian machines.
    const bool written = writeAll(pcm, samples.data(), samples.size() * sizeof(std::int16_t));
    ::close(pcm);
    const int exitCode = waitExit(pid);
    if (!written || exitCode != 0) {
        ::unlink(partial.c_str());
        return "lame failed for " + path + " (exit status " + std::to_string(exitCode) +
               "; its messages are not kept, run lame by hand to see them)";
    }
    if (::rename(partial.c_str(), path.c_str()) != 0) {
        const std::string error = std::strerror(errno);
        ::unlink(partial.c_str());
        return "cannot rename " + partial + ": " + error;
    }
    return {};
}

} // namespace vornel::demo
