#pragma once
// One HTTP GET of a stream's URL on a download thread of its own. The body (with ICY
// metadata taken out) goes into a ByteStore that the decoder reads, and past a frame
// scanner; a block connection keeps at most a bounded amount and waits for the reader.
// Other connections keep the whole file, only its first part in memory; when the rest cannot
// be kept (a full disk), the download is broken off and the stream plays what it has.
#include "playback/engine/byte_store.h"
#include "playback/engine/icy_stripper.h"
#include "playback/engine/mp3_scanner.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace vornel::http {
class HttpClient;
}

namespace vornel::audio {

// What the frame scanner has found so far, as the readers of a connection see it.
struct ScanFacts {
    bool locked = false;
    bool gaveUp = false;
    std::optional<FrameHeader> firstFrame;
    int64_t audioStart = -1;
    int64_t samples = 0;
    int64_t declaredSamples = -1;

    static ScanFacts of(const Mp3Scanner& scanner);
};

struct ReplyHead {
    std::string statusLine;         // "HTTP/1.1 200 OK", "ICY 200 OK"
    std::vector<std::string> lines; // the header lines as received
    int code = 0;
    int64_t contentLength = -1;
    std::string contentType;
    bool icy = false; // an "ICY" status line
};

class Connection {
public:
    // Block connections hold at most blockCapacity bytes; others keep the whole file, the
    // part past kMemoryLimit in a temporary file.
    static constexpr size_t kBlockCapacity = 256 * 1024;
    static constexpr size_t kWholeFileLimit = 256 * 1024 * 1024;
    static constexpr size_t kMemoryLimit = 16 * 1024 * 1024;
    // An announced length is trusted this far for reserving memory up front.
    static constexpr int64_t kReserveLimit = 64 * 1024 * 1024;

    Connection(std::string url, bool block);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void start();
    // Breaks the download off (from any thread); waits and writes return at once.
    void abort();

    using Clock = std::chrono::steady_clock;
    // Waits until ready() holds (called under the connection's lock), the download is
    // over, or the deadline passes. Returns ready()'s last value.
    bool waitUntil(const std::function<bool()>& ready, Clock::time_point deadline);
    // Lets every waitUntil look at its ready() again.
    void wake();

    // All of these take the lock; the *Locked ones expect the caller to hold it (in ready()).
    std::optional<ReplyHead> head() const;
    bool overLocked() const { return over_; }
    bool hasHeadLocked() const { return head_.has_value(); }
    const ScanFacts& scanLocked() const { return scan_; }
    int64_t receivedLocked() const { return store_.end(); }
    int64_t unreadLocked() const { return store_.unread(); }

    const std::string& url() const { return url_; }
    bool block() const { return block_; }
    bool over() const;
    bool failedBeforeHead() const;
    bool complete() const; // the whole body arrived
    // The download was broken off because its bytes could not be kept (a full disk).
    bool storeFailed() const;
    // What the downloaded bytes take in memory.
    size_t memoryBytes() const;
    std::string peek(int64_t offset, size_t max) const;
    std::optional<FrameHeader> firstFrame() const;
    int64_t audioStart() const;
    int64_t scannedSamples() const;
    int64_t declaredSamples() const;

    size_t read(char* out, size_t max);
    bool setReadOffset(int64_t offset);
    int64_t readOffset() const;
    int64_t downloaded() const;
    int64_t unread() const;
    bool blockFull();
    size_t blockLimit() const;

    // The last ICY StreamTitle of a radio stream (UTF-8), empty until one came.
    std::string icyTitle() const;
    // Called on the download thread each time the ICY StreamTitle changes; set it before the
    // stream is used, then read icyTitle() once for a title that came before.
    void setIcyTitleListener(std::function<void()> listener);

private:
    class Sink;
    void run();
    void onHeaders(int code, std::string statusLine, std::vector<std::string> lines, int64_t contentLength,
                   std::string contentType);
    void onBody(const char* data, size_t size);
    void onTruncate(int64_t size);
    void storeAudio(const char* data, size_t size, std::unique_lock<std::mutex>& lock);
    void publishScanLocked();
    void noticeIcyTitle();
    void finish(bool complete);

    const std::string url_;
    const bool block_;
    std::unique_ptr<http::HttpClient> client_;
    std::thread thread_;
    std::atomic<bool> aborted_{false};

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<ReplyHead> head_;
    ByteStore store_;
    ScanFacts scan_;
    std::string icyTitle_;
    std::function<void()> icyTitleListener_;

    // Download thread only: the scanner's work grows with the input, so it runs without the
    // lock that readers and abort() take, and its findings are published as scan_.
    Mp3Scanner scanner_;
    IcyStripper icy_;
    uint64_t icyBlocksSeen_ = 0;
    std::string audio_;
    int64_t rawReceived_ = 0;
    bool over_ = false;
    bool complete_ = false;
    bool rejected_ = false;
    bool storeFailed_ = false;
};

} // namespace vornel::audio
