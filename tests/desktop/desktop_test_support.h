#pragma once

#include "x_session.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>

#define SKIP_WITHOUT_X_SESSION()                                                           \
    do {                                                                                   \
        if (!testSessionRunning())                                                         \
            GTEST_SKIP() << testSessionProblem();                                          \
    } while (false)

// Runs the event loop until the condition holds or the time is up; returns the condition.
inline bool processEventsUntil(const std::function<bool()>& condition, int timeoutMs = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

// Lets events already on their way arrive.
inline void processEventsFor(int ms)
{
    processEventsUntil([] { return false; }, ms);
}
