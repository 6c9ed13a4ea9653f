#pragma once

#include "desktop/global_shortcuts.h"
#include "tests/support/event_wait.h"
#include "tests/support/x_session.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <string>

using vornel::test::runEventsUntil;
using vornel::test::runProgram;
using vornel::test::startProgram;
using vornel::test::stopProgram;

// Whether the test main's X session is up, and why not when it is not.
bool testSessionRunning();
const std::string& testSessionProblem();

#define SKIP_WITHOUT_X_SESSION()                                                                                       \
    do {                                                                                                               \
        if (!testSessionRunning())                                                                                     \
            GTEST_SKIP() << testSessionProblem();                                                                      \
    } while (false)

// Ctrl+Shift+key, named after its key.
inline vornel::desktop::ShortcutRequest shortcutFor(char key)
{
    return {key, QString(QLatin1Char(key)), QString()};
}

// Lets events already on their way arrive.
inline void processEventsFor(int ms)
{
    runEventsUntil([] { return false; }, ms);
}

// Sets an environment variable for one scope and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value != nullptr)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};
