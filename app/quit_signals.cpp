#include "app/quit_signals.h"

#include <QPointer>
#include <QSocketNotifier>
#include <QWidget>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace vornel::app {
namespace {
// Written by the signal handler, read by the window thread (the self-pipe pattern: a
// write is all a signal handler may safely do here).
int wakeWrite = -1;

void onQuitSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeWrite, &byte, 1);
    errno = saved;
}

void drain(int fd)
{
    char bytes[64];
    while (::read(fd, bytes, sizeof bytes) > 0) {}
}
} // namespace

void closeOnQuitSignals(QWidget& window)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return; // the program still ends by its close box
    wakeWrite = fds[1];
    auto* notifier = new QSocketNotifier(fds[0], QSocketNotifier::Read, &window);
    QPointer<QWidget> target(&window);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [fd = fds[0], target] {
        drain(fd);
        if (target)
            target->close();
    });
    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

} // namespace vornel::app
