#include "http/stream_matcher.h"

#include <cstring>
#include <utility>

namespace vornel::http {

StreamMatcher::StreamMatcher(std::string pattern) : pattern_(std::move(pattern)), fallback_(pattern_.size(), 0)
{
    for (const char c : pattern_)
        inPattern_[static_cast<unsigned char>(c)] = true;
    size_t border = 0;
    for (size_t i = 1; i < pattern_.size(); ++i) {
        while (border > 0 && pattern_[i] != pattern_[border])
            border = fallback_[border - 1];
        if (pattern_[i] == pattern_[border])
            ++border;
        fallback_[i] = border;
    }
}

bool StreamMatcher::feed(char byte)
{
    found_ = pattern_.empty();
    if (found_)
        return true;
    if (!inPattern_[static_cast<unsigned char>(byte)]) {
        matched_ = 0;
        return false;
    }
    while (matched_ > 0 && byte != pattern_[matched_])
        matched_ = fallback_[matched_ - 1];
    if (byte == pattern_[matched_])
        ++matched_;
    if (matched_ < pattern_.size())
        return false;
    matched_ = fallback_[matched_ - 1];
    found_ = true;
    return true;
}

size_t StreamMatcher::scan(const char* data, size_t size)
{
    found_ = false;
    size_t at = 0;
    while (at < size) {
        // Outside a partial match only the pattern's first byte can start one.
        if (matched_ == 0 && !pattern_.empty()) {
            const void* start = std::memchr(data + at, pattern_[0], size - at);
            if (start == nullptr)
                return size;
            at = static_cast<size_t>(static_cast<const char*>(start) - data);
        }
        if (feed(data[at++]))
            return at;
    }
    return size;
}

} // namespace vornel::http
