#pragma once
// Raw 16-bit little-endian mono PCM of a steady sine tone.
#include <cstdint>
#include <vector>

namespace vornel::demo {

inline constexpr int kSampleRate = 44100;

// A tone of pitchHz for the given seconds at half of full scale, with short fades at both
// ends so that the start and the end do not click.
std::vector<std::int16_t> makeTone(int pitchHz, int seconds);

} // namespace vornel::demo
