#include "http/byte_stream.h"

#include <algorithm>
#include <utility>

namespace vornel::http {

void MemoryStream::write(const char* data, size_t size) {
    const size_t end = static_cast<size_t>(position_) + size;
    if (end > bytes_.size()) bytes_.resize(end);
    std::copy(data, data + size, bytes_.begin() + position_);
    position_ = static_cast<int64_t>(end);
}

void MemoryStream::truncate(int64_t size) {
    bytes_.resize(static_cast<size_t>(size));
    position_ = size;
}

void MemoryStream::reserve(int64_t bytes) {
    // Only a hint: a hostile Content-Length must not make us allocate what never arrives.
    constexpr int64_t kMaxPresize = 64 * 1024 * 1024;
    const int64_t wanted = position_ + std::min(bytes, kMaxPresize);
    if (wanted > 0) bytes_.reserve(static_cast<size_t>(wanted));
}

std::string MemoryStream::takeBytes() {
    position_ = 0;
    return std::exchange(bytes_, {});
}

} // namespace vornel::http
