#pragma once
// An X server of the test's own (Xvfb on a display number it picks itself among the free
// ones), and helper programs run on it.
#include <sys/types.h>

#include <string>

namespace vornel::test {

class XSession {
public:
    XSession() = default;
    ~XSession();
    XSession(const XSession&) = delete;
    XSession& operator=(const XSession&) = delete;

    // Starts Xvfb and sets DISPLAY for this process; false with a reason when it cannot.
    bool start(std::string& whyNot);
    const std::string& display() const { return display_; }

private:
    pid_t server_ = -1;
    std::string display_;
};

// Starts a program on the session's display; returns its process id or -1.
pid_t startProgram(const std::string& program, const std::string& arguments);
void stopProgram(pid_t pid);

// Runs a program to its end (at most ten seconds); true when it exits with status 0.
bool runProgram(const std::string& program, const std::string& arguments);

} // namespace vornel::test
