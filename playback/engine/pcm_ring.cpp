#include "playback/engine/pcm_ring.h"

#include <algorithm>
#include <cstring>

namespace vornel::audio {
namespace {

size_t powerOfTwoAtLeast(size_t n)
{
    size_t p = 1;
    while (p < n)
        p <<= 1;
    return p;
}

} // namespace

PcmRing::PcmRing(size_t capacityFrames)
    : samples_(powerOfTwoAtLeast(std::max<size_t>(capacityFrames, 2)) * 2), mask_(samples_.size() / 2 - 1)
{}

size_t PcmRing::readable() const
{
    return static_cast<size_t>(written_.load(std::memory_order_acquire) - read_.load(std::memory_order_acquire));
}

size_t PcmRing::write(const int16_t* stereo, size_t frames)
{
    const uint64_t at = written_.load(std::memory_order_relaxed);
    const size_t room = capacity() - static_cast<size_t>(at - read_.load(std::memory_order_acquire));
    const size_t n = std::min(frames, room);
    const size_t start = static_cast<size_t>(at) & mask_;
    const size_t first = std::min(n, capacity() - start);
    std::memcpy(samples_.data() + start * 2, stereo, first * 2 * sizeof(int16_t));
    std::memcpy(samples_.data(), stereo + first * 2, (n - first) * 2 * sizeof(int16_t));
    written_.store(at + n, std::memory_order_release);
    return n;
}

size_t PcmRing::mixInto(int32_t* acc, size_t frames)
{
    const uint64_t at = read_.load(std::memory_order_relaxed);
    const size_t available = static_cast<size_t>(written_.load(std::memory_order_acquire) - at);
    const size_t n = std::min(frames, available);
    const size_t start = static_cast<size_t>(at) & mask_;
    const size_t first = std::min(n, capacity() - start);
    const int16_t* __restrict source = samples_.data() + start * 2;
    int32_t* __restrict target = acc;
    for (size_t i = 0; i < first * 2; ++i)
        target[i] += source[i];
    source = samples_.data();
    target = acc + first * 2;
    for (size_t i = 0; i < (n - first) * 2; ++i)
        target[i] += source[i];
    read_.store(at + n, std::memory_order_release);
    return n;
}

void PcmRing::clear()
{
    read_.store(written_.load());
}

} // namespace vornel::audio
