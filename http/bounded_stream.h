#pragma once
// A destination that takes at most a fixed number of bytes: a body held in memory must
// not grow with whatever a server chooses to send.
#include "http/byte_stream.h"

#include <cstdint>

namespace vornel::http {

// The failure of a body that passed its bound: kind "EIdBodyTooLarge".
[[noreturn]] void throwBodyTooLarge();

class BoundedStream : public ByteStream {
public:
    BoundedStream(ByteStream& inner, int64_t limit) : inner_(inner), limit_(limit) {}

    int64_t position() const override { return inner_.position(); }
    // Fails, writing nothing, when the bytes written through this stream would pass the limit.
    void write(const char* data, size_t size) override;
    void truncate(int64_t size) override { inner_.truncate(size); }
    // The hint is cut to what the limit still allows.
    void reserve(int64_t bytes) override;
    int64_t room() const override { return limit_ - written_; }

private:
    ByteStream& inner_;
    int64_t limit_;
    int64_t written_ = 0;
};

} // namespace vornel::http
