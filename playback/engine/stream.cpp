#include "playback/engine/stream.h"

#include "playback/engine/audio_output.h"
#include "playback/engine/stream_opener.h"
#include "playback/engine/stream_tags_listener.h"

#include <algorithm>
#include <cmath>

namespace vornel::audio {
namespace {

constexpr auto kAutoFreeGrace = std::chrono::seconds(1);
// About 0.75 s of sound decoded ahead of the device.
constexpr size_t kRingFrames = 32768;

// Tag lines as the contract gives them: "key=value" lines ended by an empty one.
std::shared_ptr<const std::string> tagLines(std::initializer_list<std::pair<const char*, std::string>> entries)
{
    std::string lines;
    for (const auto& [key, value] : entries) {
        if (value.empty())
            continue;
        lines += key;
        lines += '=';
        // A zero byte would end the line early; the text is cut there.
        lines += value.substr(0, value.find('\0'));
        lines += '\0';
    }
    if (lines.empty())
        return nullptr;
    lines += '\0';
    return std::make_shared<const std::string>(std::move(lines));
}

bool sameLines(const std::shared_ptr<const std::string>& a, const std::shared_ptr<const std::string>& b)
{
    return a == b || (a && b && *a == *b);
}

} // namespace

Stream::Stream(DWORD handle, DWORD flags, std::unique_ptr<Connection> connection, int outputLatencyFrames,
               const RenderGate& gate)
    : handle_(handle), flags_(flags), latencyFrames_(outputLatencyFrames), gate_(gate), ring_(kRingFrames),
      connection_(std::move(connection))
{
    if (const auto head = connection_->head()) {
        auto lines = std::make_shared<const std::string>(headLines(*head));
        (head->icy ? icyTags_ : httpTags_) = std::move(lines);
        contentLength_ = head->contentLength;
    }
    // The download may already have met a title; the listener hears of later ones.
    // The connection calls it on its own thread, so it is alive meanwhile.
    connection_->setIcyTitleListener([this, connection = connection_.get()] { takeIcyTitle(connection->icyTitle()); });
    takeIcyTitle(connection_->icyTitle());
}

Stream::~Stream()
{
    shutdown();
}

int Stream::prime(Clock::time_point deadline)
{
    std::lock_guard lock(mutex_);
    worker_ = std::make_unique<DecodeWorker>(*connection_, ring_, [this](const Id3Text& text) { takeId3Text(text); });
    if (const int error = worker_->prime(deadline); error != BASS_OK)
        return error;
    rate_ = worker_->rate();
    channels_ = worker_->channels();
    worker_->start();
    mixing_ = true;
    return BASS_OK;
}

void Stream::shutdown()
{
    std::unique_ptr<Connection> connection;
    std::unique_ptr<DecodeWorker> worker;
    {
        std::lock_guard lock(mutex_);
        mixing_ = false;
        state_ = Stopped;
        connection = std::move(connection_);
        worker = std::move(worker_);
    }
    if (connection)
        connection->abort();
    worker.reset();     // joins the decode thread
    connection.reset(); // joins the download thread
}

std::optional<Stream::Clock::time_point> Stream::autoFreeTime(Clock::time_point now)
{
    std::lock_guard lock(mutex_);
    if (state_ != Ended) {
        endedAt_.reset(); // played again after its end
        return std::nullopt;
    }
    if (!(flags_ & BASS_STREAM_AUTOFREE))
        return std::nullopt;
    if (!endedAt_)
        endedAt_ = now;
    return *endedAt_ + kAutoFreeGrace;
}

void Stream::mix(int32_t* acc, int frames, int deviceFrames)
{
    if (!mixing_.load(std::memory_order_acquire) || state_.load(std::memory_order_relaxed) != Playing)
        return;
    const size_t taken = ring_.mixInto(acc, static_cast<size_t>(frames));
    account(frames, taken, deviceFrames);
}

// What has left the device is what was taken from the ring minus what the device still
// holds; silence given after the data pushes the rest out.
void Stream::account(int frames, size_t taken, int deviceFrames)
{
    latencyFrames_.store(deviceFrames, std::memory_order_relaxed);
    const int64_t consumed = consumed_.load(std::memory_order_relaxed) + static_cast<int64_t>(taken);
    consumed_.store(consumed, std::memory_order_relaxed);
    if (taken == static_cast<size_t>(frames))
        silentRun_ = 0;
    else
        silentRun_ += frames - static_cast<int64_t>(taken);
    const int64_t stillInDevice = std::max<int64_t>(0, deviceFrames - silentRun_);
    const int64_t audible = std::clamp<int64_t>(consumed - stillInDevice, 0, consumed);
    if (audible > heard_.load(std::memory_order_relaxed))
        heard_.store(audible, std::memory_order_relaxed);
    const bool finished = worker_->finished();
    // Stalled when the connection keeps the ring empty; a decoder that is only late (a busy
    // machine) catches up by itself.
    starved_.store(taken < static_cast<size_t>(frames) && !finished && worker_->starvedForInput(),
                   std::memory_order_relaxed);
    if (finished && ring_.readable() == 0 && audible >= consumed) {
        int playing = Playing;
        state_.compare_exchange_strong(playing, Ended);
    }
}

void Stream::catchUp(int frames, Clock::duration limit)
{
    std::unique_lock lock(mutex_);
    if (!worker_ || state_ != Playing)
        return;
    DecodeWorker& worker = *worker_;
    lock.unlock(); // the worker stays until shutdown, which the engine never runs meanwhile
    worker.catchUp(static_cast<size_t>(frames), Clock::now() + limit);
}

int Stream::play(bool restart)
{
    std::lock_guard lock(mutex_);
    if (!connection_)
        return BASS_ERROR_HANDLE;
    const bool started = base_ > 0 || heard_ > 0 || consumed_ > 0;
    if (restart || state_ == Ended) {
        if (connection_->block() && started)
            return BASS_ERROR_NOTAVAIL;
        if (started) {
            if (const int error = seekLocked(0); error != BASS_OK)
                return error;
        }
    }
    state_ = Playing;
    return BASS_OK;
}

int Stream::pause()
{
    std::lock_guard lock(mutex_);
    if (state_ == Paused)
        return BASS_ERROR_ALREADY;
    if (state_ != Playing)
        return BASS_ERROR_NOPLAY;
    state_ = Paused;
    return BASS_OK;
}

DWORD Stream::state() const
{
    switch (state_.load()) {
    case Playing: return starved_ ? BASS_ACTIVE_STALLED : BASS_ACTIVE_PLAYING;
    case Paused: return BASS_ACTIVE_PAUSED;
    default: return BASS_ACTIVE_STOPPED;
    }
}

int64_t Stream::lengthFramesLocked() const
{
    if (worker_ && worker_->finished())
        knownTotal_ = base_ + worker_->decodedFrames();
    if (knownTotal_ >= 0)
        return knownTotal_;
    if (!connection_)
        return -1;
    if ((flags_ & BASS_STREAM_PRESCAN) && connection_->complete())
        return connection_->scannedSamples();
    if (const int64_t declared = connection_->declaredSamples(); declared > 0)
        return declared;
    const auto frame = connection_->firstFrame();
    if (contentLength_ <= 0 || !frame || frame->bitrateKbps <= 0)
        return -1;
    const int64_t audioBytes = std::max<int64_t>(0, contentLength_ - std::max<int64_t>(0, connection_->audioStart()));
    // Rounded up: a constant bit rate file then never seems to end before it does.
    // In 128 bits: a server may announce any length up to the largest 64-bit number.
    const __int128 bitsPerSecond = __int128(frame->bitrateKbps) * 1000;
    const __int128 frames = (__int128(audioBytes) * 8 * rate_ + bitsPerSecond - 1) / bitsPerSecond;
    return static_cast<int64_t>(std::min<__int128>(frames, INT64_MAX / 8));
}

int64_t Stream::length() const
{
    std::lock_guard lock(mutex_);
    const int64_t frames = lengthFramesLocked();
    return frames < 0 ? -1 : frames * frameBytes();
}

// Source frames heard: the ring carries output-rate frames, counted back to the stream's
// own rate.
int64_t Stream::heardFramesLocked() const
{
    const int64_t length = lengthFramesLocked();
    if (state_ == Ended && length >= 0)
        return length;
    const int64_t heard = base_ + heard_.load() * rate_ / kOutputRate;
    return length >= 0 && knownTotal_ >= 0 ? std::min(heard, length) : heard;
}

int64_t Stream::position() const
{
    std::lock_guard lock(mutex_);
    return heardFramesLocked() * frameBytes();
}

int64_t Stream::bytesFor(double seconds) const
{
    if (!(seconds >= 0))
        return -1;
    return static_cast<int64_t>(seconds * rate_) * frameBytes();
}

int Stream::setPosition(int64_t bytes)
{
    std::lock_guard lock(mutex_);
    if (!connection_)
        return BASS_ERROR_HANDLE;
    if (connection_->block())
        return BASS_ERROR_NOTAVAIL;
    const int64_t frame = bytes / frameBytes();
    const int64_t length = lengthFramesLocked();
    if (bytes < 0 || (length >= 0 && frame > length) || frame > connection_->scannedSamples())
        return BASS_ERROR_POSITION;
    return seekLocked(frame);
}

int Stream::seekLocked(int64_t frame)
{
    mixing_ = false;
    gate_.waitUntilOutside();
    const int64_t here = heardFramesLocked();
    const int64_t reached = worker_->seek(frame, here);
    base_ = reached >= 0 ? reached : here;
    consumed_ = 0;
    heard_ = 0;
    // What the device still holds of the old place counts as already heard.
    silentRun_ = latencyFrames_;
    starved_ = false;
    if (state_ == Ended)
        state_ = Stopped;
    mixing_ = true;
    return reached >= 0 ? BASS_OK : BASS_ERROR_POSITION;
}

int64_t Stream::filePosition(DWORD mode, int& error)
{
    std::lock_guard lock(mutex_);
    error = BASS_OK;
    if (!connection_) {
        error = BASS_ERROR_HANDLE;
        return -1;
    }
    switch (mode) {
    case BASS_FILEPOS_END:
        if (contentLength_ < 0)
            error = BASS_ERROR_NOTAVAIL;
        return contentLength_ < 0 ? -1 : contentLength_;
    case BASS_FILEPOS_BUFFER: return connection_->block() ? connection_->unread() : connection_->downloaded();
    case BASS_FILEPOS_CONNECTED: return connection_->over() ? 0 : 1;
    case BASS_FILEPOS_BLOCKFULL: return connection_->blockFull() ? 1 : 0;
    default: error = BASS_ERROR_ILLPARAM; return -1;
    }
}

std::shared_ptr<const std::string> Stream::tags(DWORD type) const
{
    if (type == BASS_TAG_HTTP)
        return httpTags_;
    if (type == BASS_TAG_ICY)
        return icyTags_;
    std::lock_guard lock(ownTagsMutex_);
    if (type == BASS_TAG_ICY_TITLE)
        return icyTitleTags_;
    if (type == BASS_TAG_ID3V2_TEXT)
        return id3Tags_;
    return nullptr;
}

void Stream::takeIcyTitle(const std::string& title)
{
    auto lines = tagLines({{"title", title}});
    {
        std::lock_guard lock(ownTagsMutex_);
        if (sameLines(lines, icyTitleTags_))
            return;
        icyTitleTags_ = std::move(lines);
    }
    streamTagsChanged(handle_, BASS_TAG_ICY_TITLE);
}

void Stream::takeId3Text(const Id3Text& text)
{
    auto lines = tagLines({{"title", text.title}, {"artist", text.artist}});
    {
        std::lock_guard lock(ownTagsMutex_);
        if (sameLines(lines, id3Tags_))
            return;
        id3Tags_ = std::move(lines);
    }
    streamTagsChanged(handle_, BASS_TAG_ID3V2_TEXT);
}

} // namespace vornel::audio
