#include "http/idle_pump.h"

#include "http/http_error.h"

#include <algorithm>
#include <atomic>
#include <utility>

namespace vornel::http {
namespace {

std::atomic<IdlePump*> instance{nullptr};
constexpr int kDefaultIdleTimeoutMs = 250;

} // namespace

IdlePump::IdlePump(std::function<void()> pump, std::function<bool()> onWindowThread)
    : pump_(std::move(pump)), onWindowThread_(std::move(onWindowThread)) {
    IdlePump* expected = nullptr;
    if (!instance.compare_exchange_strong(expected, this))
        throw HttpError("EIdException", "Only one TIdAntiFreeze can exist per application.");
}

IdlePump::~IdlePump() {
    IdlePump* expected = this;
    instance.compare_exchange_strong(expected, nullptr);
}

bool IdlePump::willRun() {
    IdlePump* pump = instance.load();
    return pump != nullptr && pump->active && pump->pump_ && pump->onWindowThread_ &&
           pump->onWindowThread_();
}

void IdlePump::runIfDue() {
    if (willRun()) instance.load()->pump_();
}

int IdlePump::idleTimeout() {
    IdlePump* pump = instance.load();
    return pump != nullptr ? std::max(1, pump->idleTimeoutMs) : kDefaultIdleTimeoutMs;
}

} // namespace vornel::http
