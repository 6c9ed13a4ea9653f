#include "playback/engine/memory_output.h"

#include <algorithm>

namespace vornel::audio {

namespace {

// Pieces the size of a large device period.
constexpr int kPieceFrames = 4096;

} // namespace

bool MemoryOutput::open(RenderFunction render, CatchUpFunction catchUp)
{
    std::lock_guard lock(mutex_);
    if (!usable_)
        return false;
    render_ = std::move(render);
    catchUp_ = std::move(catchUp);
    return true;
}

void MemoryOutput::close()
{
    std::lock_guard lock(mutex_);
    render_ = nullptr;
    catchUp_ = nullptr;
}

bool MemoryOutput::isOpen() const
{
    std::lock_guard lock(mutex_);
    return static_cast<bool>(render_);
}

std::vector<int16_t> MemoryOutput::pull(int frames)
{
    std::lock_guard lock(mutex_);
    if (!render_ || frames <= 0)
        return {};
    std::vector<int16_t> out(static_cast<size_t>(frames) * kOutputChannels);
    for (int done = 0; done < frames;) {
        const int piece = std::min(kPieceFrames, frames - done);
        if (catchUp_)
            catchUp_(piece);
        render_(out.data() + static_cast<size_t>(done) * kOutputChannels, piece);
        done += piece;
    }
    return out;
}

std::vector<int16_t> MemoryOutput::renderNow(int frames)
{
    std::lock_guard lock(mutex_);
    if (!render_ || frames <= 0)
        return {};
    std::vector<int16_t> out(static_cast<size_t>(frames) * kOutputChannels);
    render_(out.data(), frames);
    return out;
}

} // namespace vornel::audio
