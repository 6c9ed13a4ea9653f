#pragma once
// An unlinked temporary file for the part of a download that is not kept in memory. Nothing
// names it on disk, so it goes with its descriptor, also when the program dies.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vornel::audio {

class SpillFile {
public:
    // A new empty file in the folder; null when none can be made there.
    static std::unique_ptr<SpillFile> create(const std::string& folder);
    // The folder for such files: $XDG_CACHE_HOME when it names a folder, else /tmp.
    static std::string defaultFolder();

    ~SpillFile();
    SpillFile(const SpillFile&) = delete;
    SpillFile& operator=(const SpillFile&) = delete;

    // Writes all bytes at the offset; false when the file system refuses any of them.
    bool write(int64_t offset, const char* data, size_t size);
    // Bytes read at the offset (fewer only at the end of the file or on an error).
    size_t read(int64_t offset, char* out, size_t size) const;
    // Gives the disk space of a range back; its bytes read as zeros afterwards.
    void release(int64_t offset, int64_t length);

private:
    explicit SpillFile(int fd) : fd_(fd) {}
    int fd_;
};

} // namespace vornel::audio
