#pragma once
// Keeps a write on a socket whose peer has gone from killing the process with SIGPIPE:
// the signal is blocked for the calling thread while the guard lives, and one raised
// meanwhile is taken off the queue before the old mask comes back.
#include <csignal>

namespace vornel::http {

class SigpipeGuard {
public:
    SigpipeGuard();
    ~SigpipeGuard();
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;

private:
    sigset_t previousMask_;
    bool wasPending_ = false;
};

} // namespace vornel::http
