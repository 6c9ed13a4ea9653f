#include "demo/tone_pcm.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vornel::demo {

std::vector<std::int16_t> makeTone(int pitchHz, int seconds)
{
    const std::size_t count = static_cast<std::size_t>(kSampleRate) * static_cast<std::size_t>(seconds);
    const std::size_t fade = kSampleRate / 50; // 20 ms
    const double step = 2.0 * std::numbers::pi * pitchHz / kSampleRate;
    std::vector<std::int16_t> samples(count);
    for (std::size_t i = 0; i < count; ++i) {
        double gain = 0.5;
        const std::size_t fromEdge = std::min(i, count - 1 - i);
        if (fromEdge < fade)
            gain *= static_cast<double>(fromEdge) / fade;
        samples[i] = static_cast<std::int16_t>(std::lround(32767.0 * gain * std::sin(step * static_cast<double>(i))));
    }
    return samples;
}

} // namespace vornel::demo
