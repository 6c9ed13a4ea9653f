#include "playback/engine/sdl_output.h"

#include <SDL.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <dlfcn.h>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace vornel::audio {
namespace {

// The few SDL functions used, resolved from the library at run time.
struct SdlLibrary {
    decltype(&SDL_SetHintWithPriority) setHint = nullptr;
    decltype(&SDL_InitSubSystem) initSubSystem = nullptr;
    decltype(&SDL_QuitSubSystem) quitSubSystem = nullptr;
    decltype(&SDL_GetNumAudioDrivers) driverCount = nullptr;
    decltype(&SDL_GetAudioDriver) driverName = nullptr;
    decltype(&SDL_OpenAudioDevice) openDevice = nullptr;
    decltype(&SDL_PauseAudioDevice) pauseDevice = nullptr;
    decltype(&SDL_CloseAudioDevice) closeDevice = nullptr;
    decltype(&SDL_TLSCleanup) cleanUpThread = nullptr; // may be missing; then not called
};

template <typename Function>
bool resolve(void* library, const char* name, Function& function)
{
    function = reinterpret_cast<Function>(dlsym(library, name));
    return function != nullptr;
}

// Loaded once and kept: a thread given up on may still be inside it.
const SdlLibrary* sdlLibrary()
{
    static const SdlLibrary* const library = []() -> const SdlLibrary* {
        void* handle = dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
        if (!handle)
            return nullptr;
        auto* sdl = new SdlLibrary;
        const bool complete = resolve(handle, "SDL_SetHintWithPriority", sdl->setHint) &&
                              resolve(handle, "SDL_InitSubSystem", sdl->initSubSystem) &&
                              resolve(handle, "SDL_QuitSubSystem", sdl->quitSubSystem) &&
                              resolve(handle, "SDL_GetNumAudioDrivers", sdl->driverCount) &&
                              resolve(handle, "SDL_GetAudioDriver", sdl->driverName) &&
                              resolve(handle, "SDL_OpenAudioDevice", sdl->openDevice) &&
                              resolve(handle, "SDL_PauseAudioDevice", sdl->pauseDevice) &&
                              resolve(handle, "SDL_CloseAudioDevice", sdl->closeDevice);
        resolve(handle, "SDL_TLSCleanup", sdl->cleanUpThread);
        return complete ? sdl : nullptr;
    }();
    return library;
}

bool isPulse(std::string_view driver)
{
    return driver == "pulseaudio" || driver == "pulse";
}

void append(std::string& list, std::string_view driver)
{
    if (!list.empty())
        list += ',';
    list += driver;
}

// The drivers that SDL_AUDIODRIVER names (one, or several separated by commas), PulseAudio
// left out; when that leaves none, every driver of this SDL that can reach a device, in
// SDL's order, PulseAudio left out.
std::string chosenDrivers(const SdlLibrary& sdl)
{
    std::string drivers;
    if (const char* named = std::getenv("SDL_AUDIODRIVER")) {
        std::string_view rest(named);
        while (!rest.empty()) {
            const size_t comma = rest.find(',');
            const std::string_view driver = rest.substr(0, comma);
            if (!driver.empty() && !isPulse(driver))
                append(drivers, driver);
            rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        }
    }
    if (!drivers.empty())
        return drivers;
    for (int i = 0; i < sdl.driverCount(); ++i) {
        const std::string_view name = sdl.driverName(i);
        if (!isPulse(name) && name != "disk" && name != "dummy")
            append(drivers, name);
    }
    return drivers;
}

// Set while an open that was given up on still runs inside SDL: SDL must not be entered
// again meanwhile.
std::atomic<bool> abandonedOpenRunning{false};

} // namespace

struct SdlOutput::Attempt {
    RenderFunction render;
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;
    bool abandoned = false;
    bool initialised = false;
    SDL_AudioDeviceID device = 0;
    int latency = 0;

    // With the mutex held: the opening thread's result is no longer waited for.
    void abandonLocked()
    {
        if (done || abandoned)
            return;
        abandoned = true;
        abandonedOpenRunning = true;
    }
};

namespace {

void renderInto(void* user, Uint8* stream, int length)
{
    auto* attempt = static_cast<SdlOutput::Attempt*>(user);
    const int frames = length / static_cast<int>(sizeof(int16_t) * kOutputChannels);
    attempt->render(reinterpret_cast<int16_t*>(stream), frames, attempt->latency);
}

void openOnThisThread(const SdlLibrary& sdl, const std::shared_ptr<SdlOutput::Attempt>& attempt,
                      const std::string& drivers)
{
    // SDL keeps an error text per thread; this one ends here.
    struct ThreadCleanUp {
        const SdlLibrary& sdl;
        ~ThreadCleanUp()
        {
            if (sdl.cleanUpThread)
                sdl.cleanUpThread();
        }
    } cleanUp{sdl};
    // SIGINT and SIGTERM stay with the host program.
    sdl.setHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1", SDL_HINT_OVERRIDE);
    sdl.setHint(SDL_HINT_AUDIODRIVER, drivers.c_str(), SDL_HINT_OVERRIDE);
    const bool initialised = sdl.initSubSystem(SDL_INIT_AUDIO) == 0;
    SDL_AudioDeviceID device = 0;
    SDL_AudioSpec obtained{};
    if (initialised) {
        SDL_AudioSpec wanted{};
        wanted.freq = kOutputRate;
        wanted.format = AUDIO_S16SYS;
        wanted.channels = kOutputChannels;
        wanted.samples = 4096;
        wanted.callback = &renderInto;
        wanted.userdata = attempt.get();
        device = sdl.openDevice(nullptr, 0, &wanted, &obtained, 0);
    }
    std::unique_lock lock(attempt->mutex);
    if (attempt->abandoned) {
        lock.unlock();
        if (device != 0)
            sdl.closeDevice(device);
        if (initialised)
            sdl.quitSubSystem(SDL_INIT_AUDIO);
        abandonedOpenRunning = false;
        return;
    }
    attempt->initialised = initialised;
    attempt->device = device;
    attempt->latency = obtained.samples;
    attempt->done = true;
    attempt->changed.notify_all();
}

} // namespace

SdlOutput::SdlOutput(std::chrono::milliseconds openBound) : openBound_(openBound) {}

SdlOutput::~SdlOutput()
{
    close();
}

bool SdlOutput::open(OutputCallbacks callbacks)
{
    const SdlLibrary* sdl = sdlLibrary();
    if (!sdl || abandonedOpenRunning)
        return false;
    const std::string drivers = chosenDrivers(*sdl);
    if (drivers.empty())
        return false;
    auto attempt = std::make_shared<Attempt>();
    attempt->render = std::move(callbacks.render);
    {
        std::lock_guard guard(mutex_);
        if (attempt_ || cancelled_)
            return false;
        attempt_ = attempt;
    }
    std::thread([sdl, attempt, drivers] { openOnThisThread(*sdl, attempt, drivers); }).detach();
    std::unique_lock lock(attempt->mutex);
    attempt->changed.wait_for(lock, openBound_, [&] { return attempt->done || attempt->abandoned; });
    if (!attempt->done) {
        attempt->abandonLocked();
        lock.unlock();
        std::lock_guard guard(mutex_);
        attempt_ = nullptr;
        return false;
    }
    lock.unlock();
    if (attempt->device == 0) {
        if (attempt->initialised)
            sdl->quitSubSystem(SDL_INIT_AUDIO);
        std::lock_guard guard(mutex_);
        attempt_ = nullptr;
        return false;
    }
    sdl->pauseDevice(attempt->device, 0);
    return true;
}

// Marks the attempt given up on; open() sees it at once.
void SdlOutput::cancelOpen()
{
    std::shared_ptr<Attempt> attempt;
    {
        std::lock_guard guard(mutex_);
        cancelled_ = true;
        attempt = attempt_;
    }
    if (!attempt)
        return;
    std::lock_guard lock(attempt->mutex);
    attempt->abandonLocked();
    attempt->changed.notify_all();
}

void SdlOutput::close()
{
    std::shared_ptr<Attempt> attempt;
    {
        std::lock_guard guard(mutex_);
        attempt = std::move(attempt_);
    }
    if (!attempt || attempt->device == 0)
        return;
    const SdlLibrary* sdl = sdlLibrary();
    sdl->closeDevice(attempt->device); // no callback runs after this
    sdl->quitSubSystem(SDL_INIT_AUDIO);
}

int SdlOutput::latencyFrames() const
{
    std::lock_guard guard(mutex_);
    return attempt_ ? attempt_->latency : 0;
}

} // namespace vornel::audio
