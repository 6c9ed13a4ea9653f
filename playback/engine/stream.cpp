#include "playback/engine/stream.h"

#include "playback/engine/audio_output.h"
#include "playback/engine/stream_opener.h"

#include <algorithm>
#include <cmath>

namespace vornel::audio {
namespace {

constexpr size_t kFeedChunk = 16 * 1024;
constexpr auto kAutoFreeGrace = std::chrono::seconds(1);

} // namespace

Stream::Stream(DWORD handle, DWORD flags, std::unique_ptr<Connection> connection, int outputLatencyFrames)
    : handle_(handle), flags_(flags), latencyFrames_(outputLatencyFrames), connection_(std::move(connection)) {
    if (const auto head = connection_->head()) {
        auto lines = std::make_shared<const std::string>(headLines(*head));
        (head->icy ? icyTags_ : httpTags_) = std::move(lines);
        contentLength_ = head->contentLength;
    }
}

Stream::~Stream() = default;

int Stream::prime(Clock::time_point deadline) {
    std::lock_guard lock(mutex_);
    decoder_ = std::make_unique<Mp3Decoder>();
    if (!decoder_->valid())
        return BASS_ERROR_MEM;
    Connection& c = *connection_;
    char chunk[kFeedChunk];
    for (;;) {
        const int16_t* samples = nullptr;
        size_t frames = 0;
        const auto result = decoder_->decode(samples, frames);
        if (result == Mp3Decoder::Result::Audio) {
            rate_ = decoder_->rate();
            channels_ = std::clamp(decoder_->channels(), 1, 2);
            setPcmLocked(samples, frames, decoder_->channels());
            return BASS_OK;
        }
        const bool over = c.over();
        const size_t n = c.read(chunk, sizeof chunk);
        if (n > 0) {
            decoder_->feed(chunk, n);
            continue;
        }
        if (over || Clock::now() >= deadline)
            return BASS_ERROR_FORMAT;
        c.waitUntil([&] { return c.unreadLocked() > 0; }, deadline);
    }
}

void Stream::shutdown() {
    std::unique_ptr<Connection> connection;
    {
        std::lock_guard lock(mutex_);
        connection = std::move(connection_);
        state_ = PlayState::Stopped;
    }
    connection.reset(); // aborts and waits for the download thread
}

bool Stream::autoFreeDue(Clock::time_point now) const {
    std::lock_guard lock(mutex_);
    return (flags_ & BASS_STREAM_AUTOFREE) && state_ == PlayState::Ended && now - endedAt_ >= kAutoFreeGrace;
}

void Stream::setPcmLocked(const int16_t* samples, size_t frames, int decodedChannels) {
    pcm_ = samples;
    pcmFrames_ = frames;
    pcmRead_ = 0;
    if (decodedChannels == channels_)
        return;
    // A frame whose channel count changed mid-stream is fitted to the stream's.
    converted_.resize(frames * static_cast<size_t>(channels_));
    for (size_t i = 0; i < frames; ++i) {
        if (channels_ == 2)
            converted_[2 * i] = converted_[2 * i + 1] = samples[i * static_cast<size_t>(decodedChannels)];
        else
            converted_[i] = static_cast<int16_t>((samples[2 * i] + samples[2 * i + 1]) / 2);
    }
    pcm_ = converted_.data();
}

void Stream::clearPcmLocked() {
    pcm_ = nullptr;
    pcmFrames_ = 0;
    pcmRead_ = 0;
}

bool Stream::decodeMoreLocked() {
    clearPcmLocked();
    char chunk[kFeedChunk];
    for (;;) {
        const int16_t* samples = nullptr;
        size_t frames = 0;
        if (decoder_->decode(samples, frames) == Mp3Decoder::Result::Audio) {
            setPcmLocked(samples, frames, decoder_->channels());
            starved_ = false;
            return true;
        }
        const bool over = connection_->over();
        const size_t n = connection_->read(chunk, sizeof chunk);
        if (n > 0) {
            decoder_->feed(chunk, n);
            continue;
        }
        if (over) {
            endOfData_ = true;
            decodedTotal_ = consumed_;
        } else {
            starved_ = true;
        }
        return false;
    }
}

void Stream::mix(int32_t* acc, int frames) {
    std::lock_guard lock(mutex_);
    if (state_ != PlayState::Playing || !connection_)
        return;
    int produced = 0;
    if (rate_ == kOutputRate)
        mixSameRateLocked(acc, frames, produced);
    else
        mixResampledLocked(acc, frames, produced);
    accountLocked(frames, produced);
}

void Stream::mixSameRateLocked(int32_t* acc, int frames, int& produced) {
    const auto ch = static_cast<size_t>(channels_);
    while (produced < frames) {
        if (pcmRead_ >= pcmFrames_ && (endOfData_ || !decodeMoreLocked()))
            return;
        const size_t n = std::min(pcmFrames_ - pcmRead_, static_cast<size_t>(frames - produced));
        const int16_t* __restrict source = pcm_ + pcmRead_ * ch;
        int32_t* __restrict target = acc + static_cast<size_t>(produced) * kOutputChannels;
        if (ch == 2) {
            for (size_t i = 0; i < 2 * n; ++i)
                target[i] += source[i];
        } else {
            for (size_t i = 0; i < n; ++i) {
                target[2 * i] += source[i];
                target[2 * i + 1] += source[i];
            }
        }
        pcmRead_ += n;
        produced += static_cast<int>(n);
        consumed_ += static_cast<int64_t>(n);
    }
}

size_t Stream::takeFramesLocked(int16_t* out, size_t frames) {
    const auto ch = static_cast<size_t>(channels_);
    size_t taken = 0;
    while (taken < frames) {
        if (pcmRead_ >= pcmFrames_ && (endOfData_ || !decodeMoreLocked()))
            break;
        const int16_t* source = pcm_ + pcmRead_ * ch;
        out[taken * 2] = source[0];
        out[taken * 2 + 1] = ch == 2 ? source[1] : source[0];
        ++pcmRead_;
        ++taken;
        ++consumed_;
    }
    return taken;
}

void Stream::mixResampledLocked(int32_t* acc, int frames, int& produced) {
    const double step = static_cast<double>(rate_) / kOutputRate;
    while (produced < frames) {
        while (phase_ >= 1.0) {
            int16_t frame[2];
            if (takeFramesLocked(frame, 1) == 0)
                return;
            previous_[0] = next_[0];
            previous_[1] = next_[1];
            next_[0] = frame[0];
            next_[1] = frame[1];
            phase_ -= 1.0;
        }
        int32_t* target = acc + static_cast<size_t>(produced) * kOutputChannels;
        for (int c = 0; c < 2; ++c)
            target[c] += static_cast<int32_t>(std::lround(previous_[c] + (next_[c] - previous_[c]) * phase_));
        phase_ += step;
        ++produced;
    }
}

void Stream::accountLocked(int frames, int produced) {
    const double ratio = static_cast<double>(rate_) / kOutputRate;
    if (produced == frames)
        silentRun_ = 0;
    else
        silentRun_ += (frames - produced) * ratio;
    const double stillInDevice = std::max(0.0, latencyFrames_ * ratio - silentRun_);
    const int64_t audible = consumed_ - static_cast<int64_t>(std::ceil(stillInDevice));
    heard_ = std::max(heard_, std::clamp<int64_t>(audible, 0, consumed_));
    if (endOfData_ && heard_ >= consumed_) {
        state_ = PlayState::Ended;
        endedAt_ = Clock::now();
    }
}

int Stream::play(bool restart) {
    std::lock_guard lock(mutex_);
    if (!connection_)
        return BASS_ERROR_HANDLE;
    if (restart || state_ == PlayState::Ended) {
        if (connection_->block() && consumed_ > 0)
            return BASS_ERROR_NOTAVAIL;
        if (consumed_ > 0) {
            if (const int error = seekLocked(0); error != BASS_OK)
                return error;
        }
    }
    state_ = PlayState::Playing;
    return BASS_OK;
}

int Stream::pause() {
    std::lock_guard lock(mutex_);
    if (state_ == PlayState::Paused)
        return BASS_ERROR_ALREADY;
    if (state_ != PlayState::Playing)
        return BASS_ERROR_NOPLAY;
    state_ = PlayState::Paused;
    return BASS_OK;
}

DWORD Stream::state() const {
    std::lock_guard lock(mutex_);
    switch (state_) {
    case PlayState::Playing: return starved_ && !endOfData_ ? BASS_ACTIVE_STALLED : BASS_ACTIVE_PLAYING;
    case PlayState::Paused: return BASS_ACTIVE_PAUSED;
    default: return BASS_ACTIVE_STOPPED;
    }
}

int64_t Stream::lengthFramesLocked() const {
    if (decodedTotal_ >= 0)
        return decodedTotal_;
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

int64_t Stream::length() const {
    std::lock_guard lock(mutex_);
    const int64_t frames = lengthFramesLocked();
    return frames < 0 ? -1 : frames * frameBytes();
}

int64_t Stream::position() const {
    std::lock_guard lock(mutex_);
    return heard_ * frameBytes();
}

int64_t Stream::bytesFor(double seconds) const {
    if (!(seconds >= 0))
        return -1;
    return static_cast<int64_t>(seconds * rate_) * frameBytes();
}

int Stream::setPosition(int64_t bytes) {
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

int Stream::seekLocked(int64_t frame) {
    int64_t inputOffset = 0;
    const int64_t reached = decoder_->seek(frame, inputOffset);
    if (reached < 0 || !connection_->setReadOffset(inputOffset)) {
        // Put the decoder back where the output is.
        if (decoder_->seek(consumed_, inputOffset) >= 0)
            connection_->setReadOffset(inputOffset);
        return BASS_ERROR_POSITION;
    }
    clearPcmLocked();
    consumed_ = heard_ = reached;
    silentRun_ = latencyFrames_ * static_cast<double>(rate_) / kOutputRate;
    endOfData_ = false;
    starved_ = false;
    phase_ = 1.0;
    previous_[0] = previous_[1] = next_[0] = next_[1] = 0;
    if (state_ == PlayState::Ended)
        state_ = PlayState::Stopped;
    return BASS_OK;
}

int64_t Stream::filePosition(DWORD mode, int& error) {
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
    case BASS_FILEPOS_BUFFER:
        return connection_->block() ? connection_->unread() : connection_->downloaded();
    case BASS_FILEPOS_CONNECTED:
        return connection_->over() ? 0 : 1;
    case BASS_FILEPOS_BLOCKFULL:
        return connection_->blockFull() ? 1 : 0;
    default:
        error = BASS_ERROR_ILLPARAM;
        return -1;
    }
}

std::shared_ptr<const std::string> Stream::tags(DWORD type) const {
    if (type == BASS_TAG_HTTP)
        return httpTags_;
    if (type == BASS_TAG_ICY)
        return icyTags_;
    return nullptr;
}

} // namespace vornel::audio
