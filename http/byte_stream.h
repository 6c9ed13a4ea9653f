#pragma once
// Destinations of a GET: bytes are written at the current position; truncate() sets both
// size and position (used to cut back after a redirect and at the end of a body).
#include <cstddef>
#include <cstdint>
#include <string>

namespace vornel::http {

class ByteStream {
public:
    virtual ~ByteStream() = default;
    virtual int64_t position() const = 0;
    virtual void write(const char* data, size_t size) = 0;
    virtual void truncate(int64_t size) = 0;
    // A hint that about this many bytes will follow; a stream may ignore it.
    virtual void reserve(int64_t /*bytes*/) {}
    // How many more bytes the stream takes before a write fails.
    virtual int64_t room() const { return INT64_MAX; }

    // A body's first hint is at most this much: an announced length may be far more than
    // ever arrives. Once that much has come, the rest of the length is hinted whole, so a
    // stream that reserves must still bound what it takes (MemoryStream does).
    static constexpr int64_t kTrustedSizeHint = 64 * 1024 * 1024;
};

class MemoryStream : public ByteStream {
public:
    int64_t position() const override { return position_; }
    void write(const char* data, size_t size) override;
    void truncate(int64_t size) override;
    void reserve(int64_t bytes) override;

    const std::string& bytes() const { return bytes_; }
    std::string takeBytes();

private:
    // Makes room for `capacity` bytes without holding two full copies while moving.
    void growTo(size_t capacity);
    void prefault(size_t end);

    std::string bytes_;
    int64_t position_ = 0;
    size_t populated_ = 0; // capacity made present ahead of the writes
};

} // namespace vornel::http
