#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vornel::download {

// Percentage of a download received so far, for a bar ranging 0 to 100, or nullopt when
// the reply gives no usable length (chunked transfer, or no positive Content-Length).
// The result is 100 * workCount / contentLength truncated, computed without overflow for
// any 64-bit values and clamped to 0..100, so a server that sends more than it announced
// (or absurd lengths) still gives a position the bar can show.
std::optional<int> downloadProgress(int64_t workCount, int64_t contentLength, const std::string& transferEncoding);

} // namespace vornel::download
