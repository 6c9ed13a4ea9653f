#include "playback/engine/engine.h"

#include "playback/engine/stream_opener.h"

#include <algorithm>
#include <cstring>

namespace vornel::audio {
namespace {

constexpr auto kPrimeTimeout = std::chrono::seconds(10);
constexpr auto kSweepInterval = std::chrono::milliseconds(200);
constexpr size_t kTagsKept = 64;

int16_t clip(int32_t sample) {
    return static_cast<int16_t>(std::clamp<int32_t>(sample, -32768, 32767));
}

} // namespace

Engine& Engine::instance() {
    static Engine* engine = new Engine(); // never destroyed: streams may outlive main()
    return *engine;
}

bool Engine::initialised() const {
    std::lock_guard lock(mutex_);
    return initialised_;
}

int Engine::init() {
    std::lock_guard lifecycle(lifecycleMutex_);
    std::unique_lock lock(mutex_);
    if (initialised_)
        return BASS_ERROR_ALREADY;
    auto output = takeAudioOutput();
    lock.unlock();
    if (!output->open([this](int16_t* out, int frames) { render(out, frames); }))
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

int Engine::free() {
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
    for (auto& [handle, stream] : streams)
        stream->shutdown();
    output->close();
    return BASS_OK;
}

void Engine::stopSweeper() {
    {
        std::lock_guard lock(sweeperMutex_);
        sweeperStop_ = true;
    }
    sweeperWake_.notify_all();
    if (sweeper_.joinable())
        sweeper_.join();
}

void Engine::sweep() {
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
        for (auto& stream : due)
            stream->shutdown();
    }
}

DWORD Engine::createUrlStream(const char* url, DWORD flags, DOWNLOADPROC proc, void* user, int& error) {
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
        stream = std::make_shared<Stream>(handle, flags, std::move(outcome.connection), latency);
        outcome.error = stream->prime(Stream::Clock::now() + kPrimeTimeout);
    }
    {
        std::lock_guard lock(mutex_);
        opening_.erase(cancel);
        if (!initialised_ || cancel->cancelled())
            outcome.error = BASS_ERROR_INIT; // BASS_Free ran meanwhile
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

int Engine::freeStream(DWORD handle) {
    std::shared_ptr<Stream> stream;
    {
        std::lock_guard lock(mutex_);
        const auto it = streams_.find(handle);
        if (it == streams_.end())
            return BASS_ERROR_HANDLE;
        stream = std::move(it->second);
        streams_.erase(it);
    }
    stream->shutdown();
    return BASS_OK;
}

std::shared_ptr<Stream> Engine::find(DWORD handle) const {
    std::lock_guard lock(mutex_);
    const auto it = streams_.find(handle);
    return it == streams_.end() ? nullptr : it->second;
}

const char* Engine::keepTags(std::shared_ptr<const std::string> lines) {
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

void Engine::render(int16_t* out, int frames) {
    const size_t samples = static_cast<size_t>(frames) * kOutputChannels;
    mixing_.clear();
    {
        std::lock_guard lock(mutex_);
        for (const auto& [handle, stream] : streams_)
            mixing_.push_back(stream);
    }
    if (mixing_.empty()) {
        std::memset(out, 0, samples * sizeof(int16_t));
        return;
    }
    accumulator_.assign(samples, 0);
    for (const auto& stream : mixing_)
        stream->mix(accumulator_.data(), frames);
    mixing_.clear();
    const int32_t* __restrict mixed = accumulator_.data();
    int16_t* __restrict target = out;
    for (size_t i = 0; i < samples; ++i)
        target[i] = clip(mixed[i]);
}

} // namespace vornel::audio
