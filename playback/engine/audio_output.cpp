#include "playback/engine/audio_output.h"

#include "playback/engine/device_output.h"

#include <mutex>

namespace vornel::audio {
namespace {

std::mutex injectedMutex;
std::shared_ptr<AudioOutput> injected;

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
    return std::make_shared<DeviceOutput>();
}

} // namespace vornel::audio
