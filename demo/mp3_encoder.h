#pragma once
// Encodes PCM into an MP3 file with the `lame` command-line encoder.
#include <cstdint>
#include <string>
#include <vector>

namespace vornel::demo {

// Writes 44100 Hz mono 16-bit samples to path as a 128 kbit/s MP3. The file appears
// only once it is complete (it is written beside it and renamed). Returns an error text,
// empty on success.
std::string encodeMp3(const std::vector<std::int16_t>& samples, const std::string& path);

} // namespace vornel::demo
