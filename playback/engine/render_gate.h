#pragma once
// Tells the threads that change what the device callback reads when the callback is not
// inside: they unpublish a stream (or stop it being mixed), then wait here until any render
// that may still see it has returned. The callback itself never waits.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

namespace vornel::audio {

class RenderGate {
public:
    // The callback, at its start and its end.
    void enter() { epoch_.fetch_add(1); }
    void leave() { epoch_.fetch_add(1); }

    // Returns once a render that was running at the call has left.
    void waitUntilOutside() const
    {
        const uint64_t seen = epoch_.load();
        if (seen % 2 == 0)
            return;
        while (epoch_.load() == seen)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }

private:
    std::atomic<uint64_t> epoch_{0}; // odd while a render runs
};

} // namespace vornel::audio
