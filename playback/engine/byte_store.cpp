#include "playback/engine/byte_store.h"

#include <algorithm>
#include <cstring>

namespace vornel::audio {

size_t ByteStore::room()
{
    if (data_.size() >= limit_)
        dropRead();
    return data_.size() >= limit_ ? 0 : limit_ - data_.size();
}

void ByteStore::clear()
{
    data_.clear();
    base_ = 0;
    readOffset_ = 0;
}

void ByteStore::dropRead()
{
    const auto dropped = static_cast<size_t>(readOffset_ - base_);
    if (dropped == 0)
        return;
    data_.erase(0, dropped);
    base_ = readOffset_;
}

size_t ByteStore::read(char* out, size_t max)
{
    const auto available = static_cast<size_t>(end() - readOffset_);
    const size_t n = std::min(available, max);
    std::memcpy(out, data_.data() + (readOffset_ - base_), n);
    readOffset_ += static_cast<int64_t>(n);
    return n;
}

std::string ByteStore::peek(int64_t offset, size_t max) const
{
    if (offset < base_ || offset >= end())
        return {};
    const auto start = static_cast<size_t>(offset - base_);
    return data_.substr(start, std::min(max, data_.size() - start));
}

bool ByteStore::setReadOffset(int64_t offset)
{
    if (offset < base_ || offset > end())
        return false;
    readOffset_ = offset;
    return true;
}

} // namespace vornel::audio
