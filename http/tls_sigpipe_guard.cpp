#include "http/tls_sigpipe_guard.h"

#include <cerrno>
#include <pthread.h>
#include <time.h>

namespace vornel::http {

namespace {

sigset_t sigpipeOnly()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    return set;
}

bool sigpipePending()
{
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    return sigismember(&pending, SIGPIPE) == 1;
}

} // namespace

SigpipeGuard::SigpipeGuard()
{
    const sigset_t set = sigpipeOnly();
    pthread_sigmask(SIG_BLOCK, &set, &previousMask_);
    wasPending_ = sigpipePending();
}

SigpipeGuard::~SigpipeGuard()
{
    const int savedErrno = errno;
    if (!wasPending_ && sigpipePending()) {
        const sigset_t set = sigpipeOnly();
        const timespec noWait{};
        sigtimedwait(&set, nullptr, &noWait);
    }
    pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
    errno = savedErrno;
}

} // namespace vornel::http
