#include "playback/engine/memory_output.h"

#include <algorithm>

namespace vornel::audio {

namespace {

// Pieces the size of a large device period.
constexpr int kPieceFrames = 4096;

} // namespace

bool MemoryOutput::open(OutputCallbacks callbacks)
{
    std::lock_guard lock(mutex_);
    if (!usable_)
        return false;
    callbacks_ = std::move(callbacks);
    return true;
}

void MemoryOutput::close()
{
    std::lock_guard lock(mutex_);
    callbacks_ = {};
}

bool MemoryOutput::isOpen() const
{
    std::lock_guard lock(mutex_);
    return static_cast<bool>(callbacks_.render);
}

std::vector<int16_t> MemoryOutput::pull(int frames)
{
    std::lock_guard lock(mutex_);
    if (!callbacks_.render || frames <= 0)
        return {};
    std::vector<int16_t> out(static_cast<size_t>(frames) * kOutputChannels);
    for (int done = 0; done < frames;) {
        const int piece = std::min(kPieceFrames, frames - done);
        if (callbacks_.catchUp)
            callbacks_.catchUp(piece);
        callbacks_.render(out.data() + static_cast<size_t>(done) * kOutputChannels, piece, latency_);
        done += piece;
    }
    return out;
}

std::vector<int16_t> MemoryOutput::renderNow(int frames)
{
    std::lock_guard lock(mutex_);
    if (!callbacks_.render || frames <= 0)
        return {};
    std::vector<int16_t> out(static_cast<size_t>(frames) * kOutputChannels);
    callbacks_.render(out.data(), frames, latency_);
    return out;
}

} // namespace vornel::audio
