#include "playback/engine/engine.h"

#include "playback/engine/stream_opener.h"

#include <algorithm>
#include <cstring>

namespace vornel::audio {
namespace {

constexpr auto kPrimeTimeout = std::chrono::seconds(10);
constexpr auto kSweepInterval = std::chrono::milliseconds(500);
constexpr size_t kTagsKept = 64;

int16_t clip(int32_t sample)
{
    return static_cast<int16_t>(std::clamp<int32_t>(sample, -32768, 32767));
}

int16_t clipScaled(int32_t sample, float gain)
{
    return clip(static_cast<int32_t>(static_cast<float>(sample) * gain));
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
    accumulator_.assign(static_cast<size_t>(kRenderPieceFrames) * kOutputChannels, 0);
    lock.unlock();
    if (!output->open([this](int16_t* out, int frames) { render(out, frames); },
                      [this](int frames) { catchUp(frames); }))
        return BASS_ERROR_DRIVER;
    lock.lock();
    output_ = std::move(output);
    latencyFrames_ = output_->latencyFrames();
    initialised_ = true;
    lock.unlock();
    {
        std::lock_guard sweeperLock(sweeperMutex_);
        sweeperStop_ = false;
    }
    sweeper_ = std::thread([this] { sweep(); });
    return BASS_OK;
}

int Engine::free()
{
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

void Engine::sweep()
{
    std::unique_lock lock(sweeperMutex_);
    while (!sweeperWake_.wait_for(lock, kSweepInterval, [this] { return sweeperStop_; })) {
        std::vector<std::shared_ptr<Stream>> due;
        const auto now = Stream::Clock::now();
        {
            std::lock_guard engineLock(mutex_);
            for (auto it = streams_.begin(); it != streams_.end();) {
                if (it->second->autoFreeDue(now)) {
                    due.push_back(it->second);
                    it = streams_.erase(it);
                } else {
                    ++it;
                }
            }
        }
        for (auto& stream : due) {
            unpublish(stream.get());
            stream->shutdown();
        }
    }
}

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
        latency = latencyFrames_;
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

void Engine::setVolumeListener(VOLUMEPROC proc, void* user)
{
    std::lock_guard lock(mutex_);
    volumeProc_ = proc;
    volumeUser_ = user;
}

// The device callback: mixes what the streams' rings hold. No lock, no allocation, no
// system call; a stream with nothing ready simply adds nothing.
void Engine::render(int16_t* out, int frames)
{
    gate_.enter();
    const float gain = volume_.load(std::memory_order_relaxed);
    for (int done = 0; done < frames;) {
        const int piece = std::min(kRenderPieceFrames, frames - done);
        const size_t samples = static_cast<size_t>(piece) * kOutputChannels;
        int32_t* __restrict mixed = accumulator_.data();
        std::fill(mixed, mixed + samples, 0);
        for (const auto& slot : slots_) {
            if (Stream* stream = slot.load(std::memory_order_acquire))
                stream->mix(mixed, piece);
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
    gate_.leave();
}

} // namespace vornel::audio
