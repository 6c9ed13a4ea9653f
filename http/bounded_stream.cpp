#include "http/bounded_stream.h"

#include "http/http_error.h"

#include <algorithm>

namespace vornel::http {

void throwBodyTooLarge()
{
    throw HttpError(FailureKind::BodyTooLarge, "Reply body too large.");
}

void BoundedStream::write(const char* data, size_t size)
{
    if (static_cast<uint64_t>(size) > static_cast<uint64_t>(room()))
        throwBodyTooLarge();
    inner_.write(data, size);
    written_ += static_cast<int64_t>(size);
}

void BoundedStream::reserve(int64_t bytes)
{
    const int64_t allowed = std::min(bytes, room());
    if (allowed > 0)
        inner_.reserve(allowed);
}

} // namespace vornel::http
