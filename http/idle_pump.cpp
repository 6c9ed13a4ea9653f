#include "http/idle_pump.h"

#include "http/http_error.h"

#include <algorithm>
#include <atomic>
#include <utility>

namespace vornel::http {
namespace {

// Only the thread that made the pump can reach it: requests on other threads (the audio
// engine's downloads) never touch it, so they cannot race with its destruction.
thread_local IdlePump* threadPump = nullptr;
std::atomic<bool> pumpExists{false};
constexpr int kDefaultIdleTimeoutMs = 250;

} // namespace

IdlePump::IdlePump(std::function<void()> pump, std::function<bool()> onWindowThread)
    : pump_(std::move(pump)), onWindowThread_(std::move(onWindowThread))
{
    if (pumpExists.exchange(true))
        throw HttpError(FailureKind::Exception, "Only one TIdAntiFreeze can exist per application.");
    threadPump = this;
}

IdlePump::~IdlePump()
{
    if (threadPump == this)
        threadPump = nullptr;
    pumpExists = false;
}

bool IdlePump::willRun()
{
    const IdlePump* pump = threadPump;
    return pump != nullptr && pump->active && pump->pump_ && pump->onWindowThread_ && pump->onWindowThread_();
}

void IdlePump::runIfDue()
{
    if (!willRun())
        return;
    IdlePump* pump = threadPump;
    pump->lastRun_ = std::chrono::steady_clock::now();
    pump->pump_();
}

void IdlePump::runIfOverdue()
{
    const IdlePump* pump = threadPump;
    if (pump && std::chrono::steady_clock::now() - pump->lastRun_ >= std::chrono::milliseconds(idleTimeout()))
        runIfDue();
}

int IdlePump::idleTimeout()
{
    const IdlePump* pump = threadPump;
    return pump != nullptr ? std::max(1, pump->idleTimeoutMs) : kDefaultIdleTimeoutMs;
}

} // namespace vornel::http
