#include "playback/engine/audio_output.h"

#include "playback/engine/pulse_output.h"
#include "playback/engine/sdl_output.h"

#include <cstdlib>
#include <mutex>
#include <string_view>

namespace vornel::audio {
namespace {

std::mutex injectedMutex;
std::shared_ptr<AudioOutput> injected;

// SDL_AUDIODRIVER naming another driver (disk, dummy, alsa...) pins the SDL device.
bool sdlDriverPinned()
{
    const char* driver = std::getenv("SDL_AUDIODRIVER");
    if (!driver || !*driver)
        return false;
    const std::string_view name(driver);
    return name != "pulseaudio" && name != "pulse" && name != "pipewire";
}

} // namespace

void injectAudioOutput(std::shared_ptr<AudioOutput> output)
{
    std::lock_guard lock(injectedMutex);
    injected = std::move(output);
}

std::shared_ptr<AudioOutput> takeAudioOutput()
{
    {
        std::lock_guard lock(injectedMutex);
        if (injected)
            return injected;
    }
    if (!sdlDriverPinned()) {
        auto pulse = std::make_shared<PulseOutput>();
        if (pulse->connect())
            return pulse;
    }
    return std::make_shared<SdlOutput>();
}

} // namespace vornel::audio
