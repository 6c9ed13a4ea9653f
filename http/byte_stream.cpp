#include "http/byte_stream.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <utility>

namespace vornel::http {
namespace {

constexpr size_t kMoveSlice = 4 * 1024 * 1024;
constexpr size_t kMoveInSlicesFrom = 16 * 1024 * 1024;

// Hands the whole pages inside [begin, end) back to the system; their bytes are not read again.
void releasePages(char* begin, char* end)
{
    const auto page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    const uintptr_t first = (reinterpret_cast<uintptr_t>(begin) + page - 1) / page * page;
    const uintptr_t last = reinterpret_cast<uintptr_t>(end) / page * page;
    if (last > first)
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
}

void releasePagesOrPopulate(char* begin, char* end)
{
#ifdef MADV_POPULATE_WRITE
    const auto page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    const uintptr_t first = (reinterpret_cast<uintptr_t>(begin) + page - 1) / page * page;
    const uintptr_t last = reinterpret_cast<uintptr_t>(end) / page * page;
    if (last > first)
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
#endif
}

} // namespace

void MemoryStream::growTo(size_t capacity)
{
    if (capacity <= bytes_.capacity())
        return;
    if (bytes_.size() < kMoveInSlicesFrom) {
        bytes_.reserve(capacity);
        populated_ = 0;
        return;
    }
    // A large buffer moves slice by slice, each slice's old pages released once copied,
    // so the peak stays near one copy of the bytes.
    std::string grown;
    grown.reserve(capacity);
    char* old = bytes_.data();
    const size_t size = bytes_.size();
    for (size_t done = 0; done < size;) {
        const size_t slice = std::min(kMoveSlice, size - done);
        grown.append(old + done, slice);
        done += slice;
        releasePages(old, old + done);
    }
    bytes_.swap(grown);
    populated_ = 0;
}

// Pages of fresh capacity are made present in batches just ahead of the writes, which
// costs the system far less than one fault per page.
void MemoryStream::prefault(size_t end)
{
#ifdef MADV_POPULATE_WRITE
    constexpr size_t kBatch = 2 * 1024 * 1024;
    if (end <= populated_ || bytes_.capacity() < kMoveInSlicesFrom)
        return;
    const size_t from = std::max(populated_, bytes_.size());
    const size_t to = std::min(bytes_.capacity(), std::max(end, from + kBatch));
    releasePagesOrPopulate(bytes_.data() + from, bytes_.data() + to);
    populated_ = to;
#else
    (void)end;
#endif
}

void MemoryStream::write(const char* data, size_t size)
{
    const size_t start = static_cast<size_t>(position_);
    const size_t end = start + size;
    if (end > bytes_.capacity()) {
        // Grow fourfold: untouched capacity costs no memory, and moves get rare.
        const size_t capacity = bytes_.capacity();
        growTo(std::max(end, capacity <= SIZE_MAX / 4 ? capacity * 4 : end));
    }
    prefault(end);
    if (start == bytes_.size()) {
        bytes_.append(data, size);
    } else {
        const size_t overlap = std::min(size, bytes_.size() - start);
        bytes_.replace(start, overlap, data, overlap);
        bytes_.append(data + overlap, size - overlap);
    }
    position_ = static_cast<int64_t>(end);
}

void MemoryStream::truncate(int64_t size)
{
    bytes_.resize(static_cast<size_t>(size));
    position_ = size;
}

void MemoryStream::reserve(int64_t bytes)
{
    // Only a hint: a hostile Content-Length must not make us allocate what never arrives.
    // Beyond a fixed amount the hint is trusted in proportion to the bytes already held.
    if (bytes <= 0)
        return;
    const int64_t trusted = std::max(kTrustedSizeHint, 4 * static_cast<int64_t>(bytes_.size()));
    growTo(static_cast<size_t>(position_ + std::min(bytes, trusted)));
}

std::string MemoryStream::takeBytes()
{
    position_ = 0;
    return std::exchange(bytes_, {});
}

} // namespace vornel::http
