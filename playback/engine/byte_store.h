#pragma once
// The downloaded bytes of one stream, from which the decoder reads, by absolute offset.
// A bounded store keeps at most its limit in memory, dropping what has been read to make room
// (block streams). A spilling store keeps a whole file for seeking: its first bytes, up to a
// memory limit, in memory and the rest in an unlinked temporary file; past its overall limit
// it too drops what has been read.
#include "playback/engine/spill_file.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vornel::audio {

class ByteStore {
public:
    explicit ByteStore(size_t limit) : limit_(limit), memoryLimit_(limit) {}
    // Bytes past memoryLimit go to a file made in spillFolder when the first of them comes.
    ByteStore(size_t limit, size_t memoryLimit, std::string spillFolder);

    void setLimit(size_t limit) { limit_ = limit; }
    size_t limit() const { return limit_; }
    // Room for that many bytes in memory (never more than the memory part takes).
    void reserve(size_t bytes);

    // Free room within the limit after dropping what has been read.
    size_t room();
    // False when the bytes cannot be kept (no temporary file can be made, or it cannot be
    // written: a full disk); nothing of them is kept then, and the store takes nothing more.
    bool append(const char* data, size_t size);
    bool failed() const { return failed_; }
    void clear();

    size_t read(char* out, size_t max);
    // Copies up to max bytes from the absolute offset without moving the read offset.
    std::string peek(int64_t offset, size_t max) const;
    // False when the offset lies in dropped bytes or beyond what has arrived.
    bool setReadOffset(int64_t offset);

    int64_t end() const { return end_; }
    int64_t readOffset() const { return readOffset_; }
    int64_t unread() const { return end_ - readOffset_; }
    int64_t firstKept() const { return base_; }
    // What the store holds in memory (allocated), whatever lies in its file.
    size_t memoryBytes() const { return memory_.capacity(); }

private:
    bool spills() const { return !spillFolder_.empty(); }
    int64_t memoryEnd() const { return memoryStart_ + static_cast<int64_t>(memory_.size()); }
    size_t memoryTakes(size_t size) const;
    void appendToMemory(const char* data, size_t size);
    bool appendToFile(int64_t offset, const char* data, size_t size);
    void copyOut(int64_t offset, char* out, size_t size) const;
    void dropRead();

    size_t limit_;
    size_t memoryLimit_;
    std::string spillFolder_;
    std::vector<char> memory_; // bytes from memoryStart_ on
    int64_t memoryStart_ = 0;  // absolute
    std::unique_ptr<SpillFile> file_;
    int64_t fileStart_ = -1; // absolute offset of the file's byte 0 (the memory part's end)
    int64_t base_ = 0;       // first byte kept
    int64_t end_ = 0;
    int64_t readOffset_ = 0;
    bool failed_ = false;
};

} // namespace vornel::audio
