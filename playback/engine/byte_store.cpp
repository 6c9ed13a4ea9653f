#include "playback/engine/byte_store.h"

#include <algorithm>
#include <cstring>

namespace vornel::audio {

ByteStore::ByteStore(size_t limit, size_t memoryLimit, std::string spillFolder)
    : limit_(limit), memoryLimit_(std::min(memoryLimit, limit)), spillFolder_(std::move(spillFolder))
{}

void ByteStore::reserve(size_t bytes)
{
    memory_.reserve(std::min(bytes, memoryLimit_));
}

size_t ByteStore::room()
{
    if (end_ - base_ >= static_cast<int64_t>(limit_))
        dropRead();
    const auto kept = static_cast<size_t>(end_ - base_);
    return kept >= limit_ ? 0 : limit_ - kept;
}

bool ByteStore::append(const char* data, size_t size)
{
    if (failed_)
        return false;
    const size_t inMemory = memoryTakes(size);
    if (inMemory < size && !appendToFile(end_ + static_cast<int64_t>(inMemory), data + inMemory, size - inMemory)) {
        failed_ = true;
        return false;
    }
    appendToMemory(data, inMemory);
    end_ += static_cast<int64_t>(size);
    return true;
}

// Memory takes the first bytes up to its limit; once a byte has gone to the file, the rest
// follows it there.
size_t ByteStore::memoryTakes(size_t size) const
{
    if (!spills())
        return size;
    if (file_ || memoryEnd() != end_)
        return 0;
    return std::min(size, memoryLimit_ - memory_.size());
}

// Grows the memory part at most to its limit, so that its allocation never goes past it.
void ByteStore::appendToMemory(const char* data, size_t size)
{
    if (size == 0)
        return;
    const size_t needed = memory_.size() + size;
    if (needed > memory_.capacity() && spills())
        memory_.reserve(std::min(memoryLimit_, std::max(needed, 2 * memory_.capacity())));
    memory_.insert(memory_.end(), data, data + size);
}

bool ByteStore::appendToFile(int64_t offset, const char* data, size_t size)
{
    if (!file_) {
        file_ = SpillFile::create(spillFolder_);
        if (!file_)
            return false;
        fileStart_ = offset;
    }
    return file_->write(offset - fileStart_, data, size);
}

void ByteStore::clear()
{
    memory_.clear();
    memoryStart_ = 0;
    file_.reset();
    fileStart_ = -1;
    base_ = 0;
    end_ = 0;
    readOffset_ = 0;
    failed_ = false;
}

void ByteStore::dropRead()
{
    if (readOffset_ <= base_)
        return;
    if (file_ && readOffset_ > fileStart_)
        file_->release(std::max(base_, fileStart_) - fileStart_, readOffset_ - std::max(base_, fileStart_));
    const int64_t droppedFromMemory = std::clamp<int64_t>(readOffset_ - memoryStart_, 0, memory_.size());
    memory_.erase(memory_.begin(), memory_.begin() + droppedFromMemory);
    memoryStart_ += droppedFromMemory;
    if (memory_.empty() && file_)
        memory_.shrink_to_fit();
    base_ = readOffset_;
}

// Bytes from the absolute offset, within what is kept: from memory, then from the file.
void ByteStore::copyOut(int64_t offset, char* out, size_t size) const
{
    if (offset < memoryEnd()) {
        const auto fromMemory = std::min(size, static_cast<size_t>(memoryEnd() - offset));
        std::memcpy(out, memory_.data() + (offset - memoryStart_), fromMemory);
        out += fromMemory;
        offset += static_cast<int64_t>(fromMemory);
        size -= fromMemory;
    }
    if (size > 0 && file_) {
        const size_t got = file_->read(offset - fileStart_, out, size);
        std::memset(out + got, 0, size - got);
    }
}

size_t ByteStore::read(char* out, size_t max)
{
    const size_t n = std::min(static_cast<size_t>(end_ - readOffset_), max);
    copyOut(readOffset_, out, n);
    readOffset_ += static_cast<int64_t>(n);
    return n;
}

std::string ByteStore::peek(int64_t offset, size_t max) const
{
    if (offset < base_ || offset >= end_)
        return {};
    std::string bytes(std::min(max, static_cast<size_t>(end_ - offset)), '\0');
    copyOut(offset, bytes.data(), bytes.size());
    return bytes;
}

bool ByteStore::setReadOffset(int64_t offset)
{
    if (offset < base_ || offset > end_)
        return false;
    readOffset_ = offset;
    return true;
}

} // namespace vornel::audio
