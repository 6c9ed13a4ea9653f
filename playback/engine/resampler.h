#pragma once
// Converts 16-bit stereo frames from a part's own rate to the output rate with libsoxr
// (high quality, linear phase); a part already at the output rate passes unchanged.
#include <cstddef>
#include <cstdint>
#include <vector>

struct soxr;

namespace vornel::audio {

class Resampler {
public:
    explicit Resampler(int inputRate);
    ~Resampler();
    Resampler(const Resampler&) = delete;
    Resampler& operator=(const Resampler&) = delete;

    int inputRate() const { return inputRate_; }
    // False when libsoxr could not be set up; the part then passes at its own rate.
    bool valid() const;
    // Appends the output for these frames to out.
    void process(const int16_t* stereo, size_t frames, std::vector<int16_t>& out);
    // Appends what the filter still holds: the end of a part.
    void drain(std::vector<int16_t>& out);

private:
    void run(const int16_t* stereo, size_t frames, std::vector<int16_t>& out);

    int inputRate_;
    ::soxr* soxr_ = nullptr;
};

} // namespace vornel::audio
