#include "playback/engine/device_output.h"

#include "playback/engine/pulse_output.h"
#include "playback/engine/sdl_output.h"

#include <cstdlib>
#include <string_view>

namespace vornel::audio {
namespace {

// SDL_AUDIODRIVER (a driver, or several separated by commas) whose first driver is not a
// PulseAudio or PipeWire one (disk, dummy, alsa...) pins the SDL device.
bool sdlDriverPinned()
{
    const char* drivers = std::getenv("SDL_AUDIODRIVER");
    if (!drivers || !*drivers)
        return false;
    const std::string_view list(drivers);
    const std::string_view first = list.substr(0, list.find(','));
    return first != "pulseaudio" && first != "pulse" && first != "pipewire";
}

} // namespace

const char* DeviceOutput::name() const
{
    const auto output = chosen();
    return output ? output->name() : "none";
}

bool DeviceOutput::open(OutputCallbacks callbacks)
{
    if (!sdlDriverPinned() && tryOutput(std::make_shared<PulseOutput>(kPulseBound), callbacks))
        return true;
    return tryOutput(std::make_shared<SdlOutput>(kSdlBound), callbacks);
}

bool DeviceOutput::tryOutput(const std::shared_ptr<AudioOutput>& output, const OutputCallbacks& callbacks)
{
    {
        std::lock_guard lock(mutex_);
        if (cancelled_)
            return false;
        trying_ = output;
    }
    const bool opened = output->open(callbacks);
    std::lock_guard lock(mutex_);
    trying_ = nullptr;
    if (opened)
        chosen_ = output;
    return opened;
}

void DeviceOutput::cancelOpen()
{
    std::shared_ptr<AudioOutput> trying;
    {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
        trying = trying_;
    }
    if (trying)
        trying->cancelOpen();
}

std::shared_ptr<AudioOutput> DeviceOutput::chosen() const
{
    std::lock_guard lock(mutex_);
    return chosen_;
}

void DeviceOutput::close()
{
    if (const auto output = chosen())
        output->close();
}

int DeviceOutput::latencyFrames() const
{
    const auto output = chosen();
    return output ? output->latencyFrames() : 0;
}

bool DeviceOutput::available() const
{
    const auto output = chosen();
    return output && output->available();
}

void DeviceOutput::setActivity(Activity activity, bool dropQueued)
{
    if (const auto output = chosen())
        output->setActivity(activity, dropQueued);
}

void DeviceOutput::replaceQueued(const std::function<bool()>& change)
{
    if (const auto output = chosen())
        output->replaceQueued(change);
    else
        change();
}

bool DeviceOutput::setVolume(float volume)
{
    const auto output = chosen();
    return output && output->setVolume(volume);
}

} // namespace vornel::audio
