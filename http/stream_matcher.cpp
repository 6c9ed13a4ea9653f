#include "http/stream_matcher.h"

#include <utility>

namespace vornel::http {

StreamMatcher::StreamMatcher(std::string pattern) : pattern_(std::move(pattern)), fallback_(pattern_.size(), 0) {
    size_t border = 0;
    for (size_t i = 1; i < pattern_.size(); ++i) {
        while (border > 0 && pattern_[i] != pattern_[border]) border = fallback_[border - 1];
        if (pattern_[i] == pattern_[border]) ++border;
        fallback_[i] = border;
    }
}

bool StreamMatcher::feed(char byte) {
    if (pattern_.empty()) return true;
    while (matched_ > 0 && byte != pattern_[matched_]) matched_ = fallback_[matched_ - 1];
    if (byte == pattern_[matched_]) ++matched_;
    if (matched_ < pattern_.size()) return false;
    matched_ = fallback_[matched_ - 1];
    return true;
}

} // namespace vornel::http
