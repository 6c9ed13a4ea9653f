#include "playback/track_resolution.h"

#include "text/ascii.h"

#include <cstdint>

namespace vornel::playback {
namespace {
const std::string openingMarker = "{mp3:\"";
const std::string closingMarker = "mp3\"}";

// 1-based position of the first occurrence, 0 when absent.
int64_t positionOf(const std::string& text, const std::string& marker)
{
    const size_t at = text.find(marker);
    return at == std::string::npos ? 0 : static_cast<int64_t>(at) + 1;
}

// 1-based copy: count characters from start; nothing for count <= 0, shortened at the end.
std::string copyFrom(const std::string& text, int64_t start, int64_t count)
{
    if (count <= 0 || start < 1 || start > static_cast<int64_t>(text.size()))
        return {};
    return text.substr(static_cast<size_t>(start - 1), static_cast<size_t>(count));
}
} // namespace

std::optional<std::string> cutTrackUrl(const std::string& pageText)
{
    const int64_t a = positionOf(pageText, openingMarker);
    const int64_t b = positionOf(pageText, closingMarker);
    if (a < 1 || b < 1)
        return std::nullopt;
    return std::string(text::trimmed(copyFrom(pageText, a + 6, b - a - 3)));
}

} // namespace vornel::playback
