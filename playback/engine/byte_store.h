#pragma once
// The downloaded bytes of one stream, from which the decoder reads. Bytes before the read
// offset may be dropped to stay within a limit (always so for block streams).
#include <cstddef>
#include <cstdint>
#include <string>

namespace vornel::audio {

class ByteStore {
public:
    explicit ByteStore(size_t limit) : limit_(limit) {}

    void setLimit(size_t limit) { limit_ = limit; }
    size_t limit() const { return limit_; }
    void reserve(size_t bytes) { data_.reserve(bytes); }

    // Free room within the limit after dropping what has been read.
    size_t room();
    void append(const char* data, size_t size) { data_.append(data, size); }
    void clear();

    size_t read(char* out, size_t max);
    // Copies up to max bytes from the absolute offset without moving the read offset.
    std::string peek(int64_t offset, size_t max) const;
    // False when the offset lies in dropped bytes or beyond what has arrived.
    bool setReadOffset(int64_t offset);

    int64_t end() const { return base_ + static_cast<int64_t>(data_.size()); }
    int64_t readOffset() const { return readOffset_; }
    int64_t unread() const { return end() - readOffset_; }
    size_t stored() const { return data_.size(); }
    int64_t firstKept() const { return base_; }

private:
    void dropRead();

    std::string data_;
    int64_t base_ = 0;       // absolute offset of data_[0]
    int64_t readOffset_ = 0; // absolute
    size_t limit_;
};

} // namespace vornel::audio
