#include "download/progress.h"

#include "text/ascii.h"

#include <algorithm>

namespace vornel::download {

namespace {

bool isChunked(const std::string& transferEncoding)
{
    return vornel::text::lowerAscii(transferEncoding).find("chunked") != std::string::npos;
}

} // namespace

std::optional<int> downloadProgress(int64_t workCount, int64_t contentLength, const std::string& transferEncoding)
{
    if (isChunked(transferEncoding) || contentLength <= 0)
        return std::nullopt;
    // 128-bit intermediate: 100 * INT64_MAX does not fit in 64 bits.
    const __int128 percent = (static_cast<__int128>(workCount) * 100) / contentLength;
    return static_cast<int>(std::clamp<__int128>(percent, 0, 100));
}

} // namespace vornel::download
