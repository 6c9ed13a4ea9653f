#pragma once
// Decoded 16-bit stereo frames at the output rate between one producer (a stream's decode
// thread) and one consumer (the device callback), without a lock: each side only moves its
// own counter.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vornel::audio {

class PcmRing {
public:
    // The capacity is rounded up to a power of two.
    explicit PcmRing(size_t capacityFrames);

    size_t capacity() const { return mask_ + 1; }
    size_t readable() const;
    size_t writable() const { return capacity() - readable(); }

    // Producer: copies up to frames frames in; returns how many fitted.
    size_t write(const int16_t* stereo, size_t frames);
    // Consumer: adds up to frames frames to acc (stereo, 32-bit); returns how many it took.
    size_t mixInto(int32_t* acc, size_t frames);
    // Empties the ring; neither side may be using it meanwhile.
    void clear();

private:
    std::vector<int16_t> samples_;
    size_t mask_;
    std::atomic<uint64_t> written_{0}; // frames ever written
    std::atomic<uint64_t> read_{0};    // frames ever read
};

} // namespace vornel::audio
