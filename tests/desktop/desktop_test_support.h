#pragma once

#include "x_session.h"
#include "tests/support/event_wait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>

using vornel::test::runEventsUntil;

#define SKIP_WITHOUT_X_SESSION()                                                           \
    do {                                                                                   \
        if (!testSessionRunning())                                                         \
            GTEST_SKIP() << testSessionProblem();                                          \
    } while (false)


// Lets events already on their way arrive.
inline void processEventsFor(int ms)
{
    runEventsUntil([] { return false; }, ms);
}
