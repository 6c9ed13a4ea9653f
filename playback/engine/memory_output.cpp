#include "playback/engine/memory_output.h"

namespace vornel::audio {

bool MemoryOutput::open(RenderFunction render) {
    std::lock_guard lock(mutex_);
    if (!usable_)
        return false;
    render_ = std::move(render);
    return true;
}

void MemoryOutput::close() {
    std::lock_guard lock(mutex_);
    render_ = nullptr;
}

bool MemoryOutput::isOpen() const {
    std::lock_guard lock(mutex_);
    return static_cast<bool>(render_);
}

std::vector<int16_t> MemoryOutput::pull(int frames) {
    std::lock_guard lock(mutex_);
    if (!render_ || frames <= 0)
        return {};
    std::vector<int16_t> out(static_cast<size_t>(frames) * kOutputChannels);
    render_(out.data(), frames);
    return out;
}

} // namespace vornel::audio
