#include "playback/engine/decode_worker.h"

#include "playback/audio_library.h"
#include "playback/engine/audio_output.h"
#include "playback/engine/mp3_scanner.h"

#include <algorithm>

namespace vornel::audio {
namespace {

constexpr size_t kFeedChunk = 16 * 1024;
// Room for the output of the largest frame (1152 samples at 8 kHz) and the filter's tail.
constexpr size_t kRoomForAFrame = 8192;
// A thread with a full ring sleeps until about half of it has played, so that it wakes
// a few times a second and decodes in batches; never less than this.
constexpr auto kShortestRefillWait = std::chrono::milliseconds(50);
constexpr auto kInputWait = std::chrono::seconds(1);
constexpr size_t kPrimedFrames = 8192;

} // namespace

DecodeWorker::DecodeWorker(Connection& connection, PcmRing& ring, Id3Listener id3Listener)
    : connection_(connection), ring_(ring), id3Listener_(std::move(id3Listener))
{}

DecodeWorker::~DecodeWorker()
{
    stop();
}

int DecodeWorker::prime(Clock::time_point deadline)
{
    std::unique_lock lock(mutex_);
    decoder_ = std::make_unique<Mp3Decoder>();
    if (!decoder_->valid())
        return BASS_ERROR_MEM;
    char chunk[kFeedChunk];
    for (;;) {
        const int16_t* samples = nullptr;
        size_t frames = 0;
        if (decodeLocked(samples, frames) == Mp3Decoder::Result::Audio) {
            rate_ = decoder_->rate();
            channels_ = std::clamp(decoder_->channels(), 1, 2);
            emitLocked(samples, frames, decoder_->channels(), decoder_->rate());
            fillFromWhatArrivedLocked();
            return BASS_OK;
        }
        const bool over = connection_.over();
        const size_t n = connection_.read(chunk, sizeof chunk);
        if (n > 0) {
            decoder_->feed(chunk, n);
            continue;
        }
        if (over || Clock::now() >= deadline)
            return BASS_ERROR_FORMAT;
        connection_.waitUntil([&] { return connection_.unreadLocked() > 0; }, deadline);
    }
}

// Before the first play: a device period or two is decoded at once from the bytes already
// there, so that the first callbacks find sound without waiting for the thread.
void DecodeWorker::fillFromWhatArrivedLocked()
{
    while (ring_.readable() < kPrimedFrames && ring_.writable() >= kRoomForAFrame) {
        const int16_t* samples = nullptr;
        size_t frames = 0;
        if (decodeLocked(samples, frames) == Mp3Decoder::Result::Audio) {
            emitLocked(samples, frames, decoder_->channels(), decoder_->rate());
            continue;
        }
        char chunk[kFeedChunk];
        const size_t n = connection_.read(chunk, sizeof chunk);
        if (n == 0)
            return;
        decoder_->feed(chunk, n);
    }
}

void DecodeWorker::start()
{
    thread_ = std::thread([this] { run(); });
}

void DecodeWorker::stop()
{
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    interruptWaits();
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void DecodeWorker::interruptWaits()
{
    interrupted_ = true;
    connection_.wake();
}

void DecodeWorker::run()
{
    std::unique_lock lock(mutex_);
    while (!stop_) {
        if (!flushLocked() || (!ending_ && ring_.writable() < kRoomForAFrame)) {
            wake_.wait_for(lock, refillWait());
            continue;
        }
        if (finished()) {
            wake_.wait(lock, [&] { return stop_ || !finished(); });
            continue;
        }
        if (ending_) {
            endLocked();
            progress_.notify_all();
            continue;
        }
        const Step step = stepLocked();
        starvedForInput_.store(step == Step::NeedInput || step == Step::Stalled, std::memory_order_relaxed);
        switch (step) {
        case Step::Decoded: break;
        case Step::End: ending_ = true; break;
        case Step::NeedInput: waitForInput(lock); break;
        case Step::Stalled: waitWhileStalled(lock); break;
        }
        progress_.notify_all();
    }
}

std::chrono::milliseconds DecodeWorker::refillWait() const
{
    const size_t half = ring_.capacity() / 2;
    const size_t above = ring_.readable() > half ? ring_.readable() - half : 0;
    return std::max(kShortestRefillWait, std::chrono::milliseconds(above * 1000 / kOutputRate));
}

void DecodeWorker::waitForInput(std::unique_lock<std::mutex>& lock)
{
    waitingForInput_ = true;
    progress_.notify_all();
    interrupted_ = false;
    lock.unlock();
    connection_.waitUntil([&] { return connection_.unreadLocked() > 0 || interrupted_.load(); },
                          Clock::now() + kInputWait);
    lock.lock();
    waitingForInput_ = false;
}

void DecodeWorker::waitWhileStalled(std::unique_lock<std::mutex>& lock)
{
    stalled_ = true;
    progress_.notify_all();
    wake_.wait(lock, [&] { return stop_ || !stalled_; });
}

DecodeWorker::Step DecodeWorker::stepLocked()
{
    const int16_t* samples = nullptr;
    size_t frames = 0;
    if (decodeLocked(samples, frames) == Mp3Decoder::Result::Audio) {
        emitLocked(samples, frames, decoder_->channels(), decoder_->rate());
        return Step::Decoded;
    }
    // Anything but sound (more input needed, or a frame the decoder refused): feed on.
    const bool over = connection_.over();
    char chunk[kFeedChunk];
    const size_t n = connection_.read(chunk, sizeof chunk);
    if (n > 0) {
        decoder_->feed(chunk, n);
        return Step::Decoded;
    }
    if (!over)
        return Step::NeedInput;
    return connection_.storeFailed() ? Step::Stalled : Step::End;
}

// A tag is read where the decoder meets it: before the first frame, or between two files.
Mp3Decoder::Result DecodeWorker::decodeLocked(const int16_t*& samples, size_t& frames)
{
    const Mp3Decoder::Result result = decoder_->decode(samples, frames);
    if (id3Listener_) {
        if (const std::optional<Id3Text> tag = decoder_->takeNewId3())
            id3Listener_(*tag);
    }
    return result;
}

void DecodeWorker::emitLocked(const int16_t* samples, size_t frames, int channels, int rate)
{
    if (rate <= 0 || frames == 0)
        return;
    ticks_ += static_cast<int64_t>(frames) * Mp3Scanner::kTicksPerSecond / rate;
    const int16_t* stereo = samples;
    if (channels != 2) {
        stereo_.resize(frames * 2);
        for (size_t i = 0; i < frames; ++i)
            stereo_[2 * i] = stereo_[2 * i + 1] = samples[i * static_cast<size_t>(std::max(channels, 1))];
        stereo = stereo_.data();
    }
    if (!resampler_ || resampler_->inputRate() != rate) {
        // A new part at another rate: the old part's filter gives out its tail first.
        if (resampler_)
            resampler_->drain(pending_);
        resampler_ = std::make_unique<Resampler>(rate);
    }
    resampler_->process(stereo, frames, pending_);
    flushLocked();
}

// Moves pending output into the ring; true when nothing is left pending.
bool DecodeWorker::flushLocked()
{
    const size_t frames = pending_.size() / 2;
    pendingSent_ += ring_.write(pending_.data() + pendingSent_ * 2, frames - pendingSent_);
    if (pendingSent_ < frames)
        return false;
    pending_.clear();
    pendingSent_ = 0;
    return true;
}

void DecodeWorker::endLocked()
{
    if (resampler_) {
        resampler_->drain(pending_);
        resampler_.reset();
    }
    if (flushLocked())
        finished_.store(true, std::memory_order_release);
}

bool DecodeWorker::starvedLocked() const
{
    return stalled_ || (waitingForInput_ && connection_.unread() == 0 && !connection_.over());
}

void DecodeWorker::catchUp(size_t frames, Clock::time_point deadline)
{
    std::unique_lock lock(mutex_);
    const size_t wanted = std::min(frames, ring_.capacity() / 2);
    wake_.notify_all();
    progress_.wait_until(lock, deadline,
                         [&] { return stop_ || finished() || ring_.readable() >= wanted || starvedLocked(); });
}

int64_t DecodeWorker::decodedFrames() const
{
    std::lock_guard lock(mutex_);
    return static_cast<int64_t>(static_cast<__int128>(ticks_) * rate_ / Mp3Scanner::kTicksPerSecond);
}

int64_t DecodeWorker::seek(int64_t frame, int64_t fallbackFrame)
{
    interruptWaits();
    std::lock_guard lock(mutex_);
    int64_t inputOffset = 0;
    int64_t reached = decoder_->seek(frame, inputOffset);
    if (reached < 0 || !connection_.setReadOffset(inputOffset)) {
        if (decoder_->seek(fallbackFrame, inputOffset) >= 0)
            connection_.setReadOffset(inputOffset);
        reached = -1;
    }
    ring_.clear();
    pending_.clear();
    pendingSent_ = 0;
    resampler_.reset();
    ticks_ = 0;
    ending_ = false;
    stalled_ = false;
    finished_.store(false);
    starvedForInput_.store(false);
    wake_.notify_all();
    // A wait for input that began before the seek looks again: the new place may have data.
    interruptWaits();
    return reached;
}

} // namespace vornel::audio
