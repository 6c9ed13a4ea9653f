#pragma once
// A file that takes bytes as they arrive and is put in place of its target only when it is
// complete. It is written without a name (or under a hidden temporary one where the file
// system cannot make nameless files); saveAs() flushes it to disk and puts it in place of the
// target in one step, so the target afterwards holds either its old content or all of the new
// bytes, never a part. Destroyed without a save, it leaves nothing behind.
#include "http/byte_stream.h"

#include <memory>
#include <string>

namespace vornel::download {

class PendingFile : public vornel::http::ByteStream {
public:
    // Opens the file in `folder`; std::runtime_error says why when the folder takes no file.
    explicit PendingFile(const std::string& folder);
    ~PendingFile() override;
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    int64_t position() const override { return position_; }
    void write(const char* data, size_t size) override;
    void truncate(int64_t size) override;
    // The size hint is ignored: claiming disk for a length a server announces but never
    // sends would only fill the disk.

    // Flushes the bytes to disk and puts them in place of `path`, with the mode of the file
    // replaced, or the mode an ordinary new file gets. A path on another file system gets a
    // copy made next to it first. Throws std::runtime_error; the target is then untouched.
    void saveAs(const std::string& path);

private:
    bool moveInPlaceOf(const std::string& path);
    bool linkInPlaceOf(const std::string& path);
    void copyInPlaceOf(const std::string& path);

    int fd_ = -1;
    std::string hiddenPath_; // empty while the file has no name
    int64_t position_ = 0;
};

// A pending file in the folder of the path it will most likely be saved under, or in the
// system's temporary folder when that folder takes no file (the target may still change).
std::unique_ptr<PendingFile> openPendingFileFor(const std::string& likelyPath);

} // namespace vornel::download
