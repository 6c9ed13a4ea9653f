#pragma once
// The idle pump keeps the window's messages flowing while a request blocks the window
// thread. The application installs one; the HTTP layer only calls it.
#include <chrono>
#include <functional>

namespace vornel::http {

class IdlePump {
public:
    // pump handles every pending window event; onWindowThread tells whether the calling
    // thread is the window thread. A second instance throws HttpError
    // ("Only one TIdAntiFreeze can exist per application."). The pump is reachable only
    // from the thread that made it, and must be destroyed on that thread.
    IdlePump(std::function<void()> pump, std::function<bool()> onWindowThread);
    ~IdlePump();
    IdlePump(const IdlePump&) = delete;
    IdlePump& operator=(const IdlePump&) = delete;

    bool active = true;
    int idleTimeoutMs = 250;

    // Runs the pump when this thread made the instance, it is active, and this is the
    // window thread. Other threads see no pump (and the default idle time-out).
    static void runIfDue();
    // As runIfDue, but only when the pump has not run for the idle time-out: a request whose
    // bytes trickle in, never idle for that long, still keeps the window answering.
    static void runIfOverdue();
    static bool willRun();
    static int idleTimeout();

private:
    std::function<void()> pump_;
    std::function<bool()> onWindowThread_;
    std::chrono::steady_clock::time_point lastRun_;
};

} // namespace vornel::http
