#pragma once
// Window tests: let the Qt event loop run until something has happened, within a bound.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <functional>

namespace vornel::test {

// Runs pending events until done() holds or limitMs have passed; returns done().
inline bool runEventsUntil(const std::function<bool()>& done, int limitMs = 10000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > limitMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1); // events from other processes and threads need a moment
    }
    return true;
}

} // namespace vornel::test
