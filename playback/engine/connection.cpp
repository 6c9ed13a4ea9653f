#include "playback/engine/connection.h"

#include "http/http_client.h"
#include "text/ascii.h"

#include <algorithm>
#include <cstdlib>

namespace vornel::audio {
namespace {

int64_t metaInterval(const std::vector<std::string>& lines)
{
    const std::string name = "icy-metaint:";
    for (const auto& line : lines) {
        if (line.size() <= name.size())
            continue;
        if (text::lowerAscii(std::string_view(line).substr(0, name.size())) == name) {
            const long long value = std::atoll(line.c_str() + name.size());
            // Beyond this it is not a real server's interval; take it as none.
            return value > 0 && value <= 16 * 1024 * 1024 ? value : 0;
        }
    }
    return 0;
}

} // namespace

ScanFacts ScanFacts::of(const Mp3Scanner& scanner)
{
    ScanFacts facts;
    facts.locked = scanner.locked();
    facts.gaveUp = scanner.gaveUp();
    facts.firstFrame = scanner.firstFrame();
    facts.audioStart = scanner.audioStart();
    facts.samples = scanner.samples();
    facts.declaredSamples = scanner.declaredSamples();
    return facts;
}

// Receives the body from the HTTP client on the download thread.
class Connection::Sink : public http::ByteStream {
public:
    explicit Sink(Connection& owner) : owner_(owner) {}
    int64_t position() const override
    {
        std::lock_guard lock(owner_.mutex_);
        return owner_.rawReceived_;
    }
    void write(const char* data, size_t size) override { owner_.onBody(data, size); }
    void truncate(int64_t size) override { owner_.onTruncate(size); }

private:
    Connection& owner_;
};

Connection::Connection(std::string url, bool block)
    : url_(std::move(url)), block_(block),
      store_(block ? ByteStore(kBlockCapacity) : ByteStore(kWholeFileLimit, kMemoryLimit, SpillFile::defaultFolder()))
{
    http::ClientSettings settings = http::ClientSettings::configured();
    settings.handleRedirects = true;
    settings.noProtocolErrorException = true;
    settings.allowCookies = false;
    settings.accept = "*/*";
    // Audio labelled as a page still reaches the decoder piece by piece.
    settings.bodyAsReceived = true;
    client_ = std::make_unique<http::HttpClient>(settings);
    client_->extraHeaders = {"Icy-MetaData: 1"};
    client_->OnHeaders = [this](const http::Response& reply) {
        // The client goes on to the Location of a redirect by itself.
        const int code = reply.ResponseCode;
        if (code >= 300 && code <= 399 && code != 304 && !reply.Location.empty())
            return;
        onHeaders(reply.ResponseCode, reply.ResponseText, reply.RawHeaders, reply.ContentLength, reply.ContentType);
    };
    if (block_)
        store_.reserve(kBlockCapacity);
}

Connection::~Connection()
{
    abort();
    if (thread_.joinable())
        thread_.join();
}

void Connection::start()
{
    thread_ = std::thread([this] { run(); });
}

void Connection::abort()
{
    aborted_ = true;
    client_->abort();
    std::lock_guard lock(mutex_);
    changed_.notify_all();
}

void Connection::run()
{
    Sink sink(*this);
    bool completed = false;
    if (!aborted_) {
        try {
            client_->GetToStream(url_, sink);
            completed = !aborted_;
        } catch (...) {
            completed = false; // the failure ends the download; the stream plays what arrived
        }
    }
    finish(completed);
}

void Connection::finish(bool completed)
{
    bool rejected = false;
    {
        std::lock_guard lock(mutex_);
        rejected = rejected_;
    }
    if (completed && !rejected)
        scanner_.finish();
    std::lock_guard lock(mutex_);
    publishScanLocked();
    over_ = true;
    complete_ = completed && !rejected_ && !storeFailed_ && head_.has_value();
    changed_.notify_all();
}

void Connection::onHeaders(int code, std::string statusLine, std::vector<std::string> lines, int64_t contentLength,
                           std::string contentType)
{
    std::unique_lock lock(mutex_);
    ReplyHead head;
    head.icy = statusLine.rfind("ICY", 0) == 0;
    head.statusLine = std::move(statusLine);
    head.lines = std::move(lines);
    head.code = code;
    head.contentLength = contentLength;
    head.contentType = std::move(contentType);
    icy_ = IcyStripper(metaInterval(head.lines));
    icyBlocksSeen_ = 0;
    if (!block_ && contentLength > 0)
        store_.reserve(static_cast<size_t>(std::min<int64_t>(contentLength, kReserveLimit)));
    rejected_ = code >= 400 || code < 100;
    head_ = std::move(head);
    changed_.notify_all();
    if (rejected_) {
        lock.unlock();
        client_->abort();
    }
}

void Connection::onBody(const char* data, size_t size)
{
    {
        std::lock_guard lock(mutex_);
        if (rejected_ || aborted_ || storeFailed_)
            return;
        rawReceived_ += static_cast<int64_t>(size);
    }
    audio_.clear();
    icy_.strip(data, size, [&](const char* audio, size_t length) { audio_.append(audio, length); });
    noticeIcyTitle();
    std::unique_lock lock(mutex_);
    storeAudio(audio_.data(), audio_.size(), lock);
    changed_.notify_all();
}

// Download thread only; the listener runs without the lock.
void Connection::noticeIcyTitle()
{
    if (icy_.metadataBlocks() == icyBlocksSeen_)
        return;
    icyBlocksSeen_ = icy_.metadataBlocks();
    std::optional<std::string> title = icyStreamTitle(icy_.lastMetadata());
    std::function<void()> listener;
    {
        std::lock_guard lock(mutex_);
        if (!title || *title == icyTitle_)
            return;
        icyTitle_ = std::move(*title);
        listener = icyTitleListener_;
    }
    if (listener)
        listener();
}

std::string Connection::icyTitle() const
{
    std::lock_guard lock(mutex_);
    return icyTitle_;
}

void Connection::setIcyTitleListener(std::function<void()> listener)
{
    std::lock_guard lock(mutex_);
    icyTitleListener_ = std::move(listener);
}

void Connection::publishScanLocked()
{
    scan_ = ScanFacts::of(scanner_);
}

void Connection::storeAudio(const char* data, size_t size, std::unique_lock<std::mutex>& lock)
{
    while (size > 0 && !aborted_) {
        const size_t room = store_.room();
        if (room == 0) {
            changed_.wait(lock, [&] { return aborted_ || store_.room() > 0; });
            continue;
        }
        const size_t n = std::min(room, size);
        lock.unlock();
        scanner_.feed(data, n);
        lock.lock();
        if (aborted_)
            return;
        publishScanLocked();
        if (!store_.append(data, n)) {
            storeFailed_ = true;
            changed_.notify_all();
            lock.unlock();
            client_->abort();
            lock.lock();
            return;
        }
        data += n;
        size -= n;
        if (block_ && scanner_.locked())
            store_.setLimit(std::clamp<size_t>(static_cast<size_t>(scanner_.firstFrame()->bitrateKbps) * 125 * 5,
                                               64 * 1024, kBlockCapacity));
        changed_.notify_all();
    }
}

void Connection::onTruncate(int64_t size)
{
    std::lock_guard lock(mutex_);
    // A body that the client drops (a redirect's) is started over; cutting back anything
    // else is not something a download does.
    if (size == 0 && rawReceived_ > 0 && store_.readOffset() == 0) {
        store_.clear();
        scanner_ = Mp3Scanner();
        publishScanLocked();
        icy_ = IcyStripper(head_ ? metaInterval(head_->lines) : 0);
        icyBlocksSeen_ = 0;
        rawReceived_ = 0;
    }
}

bool Connection::waitUntil(const std::function<bool()>& ready, Clock::time_point deadline)
{
    std::unique_lock lock(mutex_);
    changed_.wait_until(lock, deadline, [&] { return ready() || over_ || aborted_; });
    return ready();
}

void Connection::wake()
{
    std::lock_guard lock(mutex_);
    changed_.notify_all();
}

std::optional<ReplyHead> Connection::head() const
{
    std::lock_guard lock(mutex_);
    return head_;
}

bool Connection::over() const
{
    std::lock_guard lock(mutex_);
    return over_;
}

bool Connection::failedBeforeHead() const
{
    std::lock_guard lock(mutex_);
    return over_ && !head_;
}

bool Connection::complete() const
{
    std::lock_guard lock(mutex_);
    return complete_;
}

bool Connection::storeFailed() const
{
    std::lock_guard lock(mutex_);
    return storeFailed_;
}

size_t Connection::memoryBytes() const
{
    std::lock_guard lock(mutex_);
    return store_.memoryBytes();
}

std::string Connection::peek(int64_t offset, size_t max) const
{
    std::lock_guard lock(mutex_);
    return store_.peek(offset, max);
}

std::optional<FrameHeader> Connection::firstFrame() const
{
    std::lock_guard lock(mutex_);
    return scan_.firstFrame;
}

int64_t Connection::audioStart() const
{
    std::lock_guard lock(mutex_);
    return scan_.audioStart;
}

int64_t Connection::scannedSamples() const
{
    std::lock_guard lock(mutex_);
    return scan_.samples;
}

int64_t Connection::declaredSamples() const
{
    std::lock_guard lock(mutex_);
    return scan_.declaredSamples;
}

size_t Connection::read(char* out, size_t max)
{
    std::lock_guard lock(mutex_);
    const size_t n = store_.read(out, max);
    if (n > 0)
        changed_.notify_all();
    return n;
}

bool Connection::setReadOffset(int64_t offset)
{
    std::lock_guard lock(mutex_);
    return store_.setReadOffset(offset);
}

int64_t Connection::readOffset() const
{
    std::lock_guard lock(mutex_);
    return store_.readOffset();
}

int64_t Connection::downloaded() const
{
    std::lock_guard lock(mutex_);
    return store_.end();
}

int64_t Connection::unread() const
{
    std::lock_guard lock(mutex_);
    return store_.unread();
}

bool Connection::blockFull()
{
    std::lock_guard lock(mutex_);
    return block_ && store_.room() == 0;
}

size_t Connection::blockLimit() const
{
    std::lock_guard lock(mutex_);
    return store_.limit();
}

} // namespace vornel::audio
