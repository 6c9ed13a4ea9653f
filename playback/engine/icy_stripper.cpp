#include "playback/engine/icy_stripper.h"

#include <algorithm>

namespace vornel::audio {

void IcyStripper::strip(const char* data, size_t size, const std::function<void(const char*, size_t)>& audio)
{
    if (interval_ <= 0) {
        if (size)
            audio(data, size);
        return;
    }
    while (size > 0) {
        if (metaLeft_ > 0) {
            const size_t n = std::min(metaLeft_, size);
            metadata_.append(data, n);
            metaLeft_ -= n;
            data += n;
            size -= n;
            if (metaLeft_ == 0) {
                lastMetadata_ = metadata_.substr(0, metadata_.find('\0'));
                untilMeta_ = interval_;
            }
        } else if (expectLength_) {
            metaLeft_ = static_cast<unsigned char>(*data) * size_t(16);
            metadata_.clear();
            expectLength_ = false;
            ++data;
            --size;
            if (metaLeft_ == 0)
                untilMeta_ = interval_;
        } else {
            const size_t n = static_cast<size_t>(std::min<int64_t>(untilMeta_, static_cast<int64_t>(size)));
            audio(data, n);
            untilMeta_ -= static_cast<int64_t>(n);
            data += n;
            size -= n;
            if (untilMeta_ == 0)
                expectLength_ = true;
        }
    }
}

} // namespace vornel::audio
