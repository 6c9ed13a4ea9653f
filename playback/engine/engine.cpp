#include "playback/engine/engine.h"

#include "playback/engine/stream_opener.h"

#include <algorithm>
#include <cstring>
#include <pthread.h>

namespace vornel::audio {
namespace {

constexpr auto kPrimeTimeout = std::chrono::seconds(10);
constexpr size_t kTagsKept = 64;
// How long a play or a seek may wait for decoding to fill the device's first request, so
// that the first sound is not followed by a gap; decoding that much takes a few ms.
constexpr auto kStartCatchUpLimit = std::chrono::milliseconds(50);

int16_t clip(int32_t sample)
{
    return static_cast<int16_t>(std::clamp<int32_t>(sample, -32768, 32767));
}

int16_t clipScaled(int32_t sample, float gain)
{
    return clip(static_cast<int32_t>(static_cast<float>(sample) * gain));
}

bool isPlaying(DWORD state)
{
    return state == BASS_ACTIVE_PLAYING || state == BASS_ACTIVE_STALLED;
}

} // namespace

Engine& Engine::instance()
{
    static Engine* engine = new Engine(); // never destroyed: streams may outlive main()
    return *engine;
}

bool Engine::initialised() const
{
    std::lock_guard lock(mutex_);
    return initialised_;
}

int Engine::init()
{
    std::lock_guard lifecycle(lifecycleMutex_);
    std::unique_lock lock(mutex_);
    if (initialised_)
        return BASS_ERROR_ALREADY;
    auto output = takeAudioOutput();
    openingOutput_ = output;
    accumulator_.assign(static_cast<size_t>(kRenderPieceFrames) * kOutputChannels, 0);
    lock.unlock();
    OutputCallbacks callbacks;
    // The sweeper is woken outside render, which takes no lock; a stream ends rarely.
    callbacks.render = [this](int16_t* out, int frames, int deviceFrames) {
        const bool playing = render(out, frames, deviceFrames);
        if (streamEnded_.exchange(false, std::memory_order_relaxed))
            wakeSweeper();
        return playing;
    };
    callbacks.catchUp = [this](int frames) { catchUp(frames); };
    callbacks.volumeChanged = [this](float volume) { outputVolumeChanged(volume); };
    const bool opened = output->open(std::move(callbacks));
    lock.lock();
    openingOutput_ = nullptr;
    if (!opened)
        return BASS_ERROR_DRIVER;
    output_ = output;
    latencyFrames_ = output_->latencyFrames();
    initialised_ = true;
    lock.unlock();
    {
        std::lock_guard volumeLock(volumeMutex_);
        applyVolume(*output, volume_);
    }
    {
        std::lock_guard sweeperLock(sweeperMutex_);
        sweeperStop_ = false;
        sweeperWoken_ = false;
    }
    sweeper_ = std::thread([this] { sweep(); });
    pthread_setname_np(sweeper_.native_handle(), "vornel-sweeper"); // for per-thread figures
    return BASS_OK;
}

int Engine::free()
{
    std::shared_ptr<AudioOutput> opening;
    {
        std::lock_guard lock(mutex_);
        opening = openingOutput_;
    }
    if (opening)
        opening->cancelOpen();
    std::lock_guard lifecycle(lifecycleMutex_);
    std::map<DWORD, std::shared_ptr<Stream>> streams;
    std::shared_ptr<AudioOutput> output;
    {
        std::lock_guard lock(mutex_);
        if (!initialised_)
            return BASS_ERROR_INIT;
        initialised_ = false;
        streams.swap(streams_);
        output = std::move(output_);
        for (const auto& open : opening_)
            open->cancel();
    }
    stopSweeper();
    for (auto& [handle, stream] : streams) {
        unpublish(stream.get());
        stream->shutdown();
    }
    output->close();
    return BASS_OK;
}

std::shared_ptr<AudioOutput> Engine::output() const
{
    std::lock_guard lock(mutex_);
    return output_;
}

// --- the sweeper ---------------------------------------------------------------------------

void Engine::sweep()
{
    std::optional<Stream::Clock::time_point> next;
    std::unique_lock lock(sweeperMutex_);
    for (;;) {
        const auto woken = [this] { return sweeperStop_ || sweeperWoken_; };
        if (next)
            sweeperWake_.wait_until(lock, *next, woken);
        else
            sweeperWake_.wait(lock, woken);
        if (sweeperStop_)
            return;
        sweeperWoken_ = false;
        lock.unlock();
        reportVolumeChange();
        next = freeEndedStreams();
        // The output stands still, or closes, once it has played out the end.
        updateOutput(false);
        lock.lock();
    }
}

void Engine::wakeSweeper()
{
    {
        std::lock_guard lock(sweeperMutex_);
        sweeperWoken_ = true;
    }
    sweeperWake_.notify_one();
}

void Engine::stopSweeper()
{
    {
        std::lock_guard lock(sweeperMutex_);
        sweeperStop_ = true;
    }
    sweeperWake_.notify_all();
    if (sweeper_.joinable())
        sweeper_.join();
}

// Frees the auto-free streams whose time has come; returns the next such time, if any.
std::optional<Stream::Clock::time_point> Engine::freeEndedStreams()
{
    std::vector<std::shared_ptr<Stream>> due;
    std::optional<Stream::Clock::time_point> next;
    const auto now = Stream::Clock::now();
    {
        std::lock_guard engineLock(mutex_);
        for (auto it = streams_.begin(); it != streams_.end();) {
            const auto at = it->second->autoFreeTime(now);
            if (at && *at <= now) {
                due.push_back(it->second);
                it = streams_.erase(it);
                continue;
            }
            if (at && (!next || *at < *next))
                next = at;
            ++it;
        }
    }
    for (auto& stream : due) {
        unpublish(stream.get());
        stream->shutdown();
    }
    return next;
}

// --- streams -------------------------------------------------------------------------------

DWORD Engine::createUrlStream(const char* url, DWORD flags, DOWNLOADPROC proc, void* user, int& error)
{
    auto cancel = std::make_shared<OpenCancel>();
    int latency = 0;
    {
        std::lock_guard lock(mutex_);
        if (!initialised_) {
            error = BASS_ERROR_INIT;
            return 0;
        }
        opening_.insert(cancel);
        latency = output_->latencyFrames();
    }
    OpenRequest request{url ? url : "", flags, proc, user, followPlaylists_};
    auto outcome = openUrl(request, *cancel);
    std::shared_ptr<Stream> stream;
    if (outcome.connection) {
        const DWORD handle = ++lastHandle_;
        stream = std::make_shared<Stream>(handle, flags, std::move(outcome.connection), latency, gate_);
        outcome.error = stream->prime(Stream::Clock::now() + kPrimeTimeout);
    }
    {
        std::lock_guard lock(mutex_);
        opening_.erase(cancel);
        if (!initialised_ || cancel->cancelled())
            outcome.error = BASS_ERROR_INIT; // BASS_Free ran meanwhile
        if (outcome.error == BASS_OK && !publish(stream.get()))
            outcome.error = BASS_ERROR_MEM;
        if (outcome.error == BASS_OK)
            streams_.emplace(stream->handle(), stream);
    }
    error = outcome.error;
    if (error != BASS_OK) {
        if (stream)
            stream->shutdown();
        return 0;
    }
    return stream->handle();
}

int Engine::freeStream(DWORD handle)
{
    std::shared_ptr<Stream> stream;
    {
        std::lock_guard lock(mutex_);
        const auto it = streams_.find(handle);
        if (it == streams_.end())
            return BASS_ERROR_HANDLE;
        stream = std::move(it->second);
        streams_.erase(it);
    }
    unpublish(stream.get());
    stream->shutdown();
    // What the device still holds of it is not heard.
    updateOutput(true);
    return BASS_OK;
}

bool Engine::publish(Stream* stream)
{
    for (auto& slot : slots_) {
        Stream* empty = nullptr;
        if (slot.compare_exchange_strong(empty, stream))
            return true;
    }
    return false;
}

void Engine::unpublish(const Stream* stream)
{
    for (auto& slot : slots_) {
        Stream* expected = const_cast<Stream*>(stream);
        slot.compare_exchange_strong(expected, nullptr);
    }
    gate_.waitUntilOutside();
}

void Engine::catchUp(int frames)
{
    std::vector<std::shared_ptr<Stream>> streams;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [handle, stream] : streams_)
            streams.push_back(stream);
    }
    for (const auto& stream : streams)
        stream->catchUp(frames);
}

std::shared_ptr<Stream> Engine::find(DWORD handle) const
{
    std::lock_guard lock(mutex_);
    const auto it = streams_.find(handle);
    return it == streams_.end() ? nullptr : it->second;
}

const char* Engine::keepTags(std::shared_ptr<const std::string> lines)
{
    if (!lines)
        return nullptr;
    std::lock_guard lock(mutex_);
    if (std::find(keptTags_.begin(), keptTags_.end(), lines) == keptTags_.end()) {
        keptTags_.push_back(lines);
        if (keptTags_.size() > kTagsKept)
            keptTags_.pop_front();
    }
    return lines->c_str();
}

// --- the transport -------------------------------------------------------------------------

int Engine::play(DWORD handle, bool restart)
{
    const auto stream = find(handle);
    if (!stream)
        return BASS_ERROR_HANDLE;
    if (const int error = stream->play(restart); error != BASS_OK)
        return error;
    const auto device = output();
    if (device)
        stream->catchUp(device->latencyFrames(), kStartCatchUpLimit);
    updateOutput(false);
    return BASS_OK;
}

int Engine::pause(DWORD handle)
{
    const auto stream = find(handle);
    if (!stream)
        return BASS_ERROR_HANDLE;
    if (const int error = stream->pause(); error != BASS_OK)
        return error;
    updateOutput(false);
    return BASS_OK;
}

// The device drops what it holds of the old place, unless another stream plays, whose
// sound would be cut.
int Engine::setPosition(DWORD handle, int64_t bytes)
{
    const auto stream = find(handle);
    if (!stream)
        return BASS_ERROR_HANDLE;
    std::shared_ptr<AudioOutput> device;
    bool alone = false;
    {
        std::lock_guard lock(mutex_);
        device = output_;
        alone = !playingExcept(stream.get());
    }
    int error = BASS_OK;
    const auto seek = [&] {
        error = stream->setPosition(bytes);
        if (error != BASS_OK)
            return false;
        if (device)
            stream->catchUp(device->latencyFrames(), kStartCatchUpLimit);
        return true;
    };
    if (device && alone)
        device->replaceQueued(seek);
    else
        seek();
    return error;
}

std::optional<DWORD> Engine::state(DWORD handle) const
{
    std::lock_guard lock(mutex_);
    const auto it = streams_.find(handle);
    if (it == streams_.end())
        return std::nullopt;
    const DWORD state = it->second->state();
    if (state == BASS_ACTIVE_PLAYING && output_ && !output_->available())
        return BASS_ACTIVE_STALLED;
    return state;
}

bool Engine::playingExcept(const Stream* stream) const
{
    return std::any_of(streams_.begin(), streams_.end(), [stream](const auto& entry) {
        return entry.second.get() != stream && isPlaying(entry.second->state());
    });
}

Activity Engine::activity() const
{
    if (playingExcept(nullptr))
        return Activity::Playing;
    const bool paused = std::any_of(streams_.begin(), streams_.end(),
                                    [](const auto& entry) { return entry.second->state() == BASS_ACTIVE_PAUSED; });
    return paused ? Activity::Paused : Activity::None;
}

void Engine::updateOutput(bool dropQueued)
{
    std::lock_guard update(outputUpdateMutex_);
    std::shared_ptr<AudioOutput> device;
    Activity now = Activity::None;
    {
        std::lock_guard lock(mutex_);
        device = output_;
        now = activity();
    }
    if (device)
        device->setActivity(now, dropQueued && now != Activity::Playing);
}

// --- the volume ----------------------------------------------------------------------------

void Engine::setVolume(float volume)
{
    std::lock_guard lock(volumeMutex_);
    volume_ = volume;
    if (const auto device = output())
        applyVolume(*device, volume);
    else
        mixGain_ = volume;
}

void Engine::applyVolume(AudioOutput& device, float volume)
{
    mixGain_ = device.setVolume(volume) ? 1.0f : volume;
}

// On the device's thread: the listener is told on the sweeper's.
void Engine::outputVolumeChanged(float volume)
{
    volume_ = volume;
    volumeChangedOutside_ = true;
    wakeSweeper();
}

void Engine::reportVolumeChange()
{
    if (!volumeChangedOutside_.exchange(false))
        return;
    VOLUMEPROC proc = nullptr;
    void* user = nullptr;
    {
        std::lock_guard lock(mutex_);
        proc = volumeProc_;
        user = volumeUser_;
    }
    if (proc)
        proc(volume_, user);
}

void Engine::setVolumeListener(VOLUMEPROC proc, void* user)
{
    std::lock_guard lock(mutex_);
    volumeProc_ = proc;
    volumeUser_ = user;
}

// --- the device callback -------------------------------------------------------------------

// Mixes what the streams' rings hold. No lock, no allocation, no system call; a stream with
// nothing ready simply adds nothing. Returns whether any stream is playing.
bool Engine::render(int16_t* out, int frames, int deviceFrames)
{
    gate_.enter();
    const float gain = mixGain_.load(std::memory_order_relaxed);
    bool playing = false;
    bool ended = false;
    for (int done = 0; done < frames;) {
        const int piece = std::min(kRenderPieceFrames, frames - done);
        const size_t samples = static_cast<size_t>(piece) * kOutputChannels;
        int32_t* __restrict mixed = accumulator_.data();
        std::fill(mixed, mixed + samples, 0);
        for (const auto& slot : slots_) {
            Stream* stream = slot.load(std::memory_order_acquire);
            if (!stream)
                continue;
            const bool wasPlaying = isPlaying(stream->state());
            stream->mix(mixed, piece, deviceFrames);
            if (!wasPlaying)
                continue;
            if (isPlaying(stream->state()))
                playing = true;
            else
                ended = true;
        }
        int16_t* __restrict target = out + static_cast<size_t>(done) * kOutputChannels;
        if (gain >= 1.0f) {
            for (size_t i = 0; i < samples; ++i)
                target[i] = clip(mixed[i]);
        } else {
            for (size_t i = 0; i < samples; ++i)
                target[i] = clipScaled(mixed[i], gain);
        }
        done += piece;
    }
    if (ended)
        streamEnded_.store(true, std::memory_order_relaxed);
    gate_.leave();
    return playing;
}

} // namespace vornel::audio
