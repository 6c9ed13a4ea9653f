#include "playback/engine/sdl_output.h"

#include <SDL.h>

namespace vornel::audio {

SdlOutput::~SdlOutput()
{
    close();
}

bool SdlOutput::open(RenderFunction render, CatchUpFunction /*catchUp*/)
{
    // SIGINT and SIGTERM stay with the host program.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
        return false;
    render_ = std::move(render);
    SDL_AudioSpec wanted{};
    wanted.freq = kOutputRate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = kOutputChannels;
    wanted.samples = 4096;
    wanted.callback = &SdlOutput::callback;
    wanted.userdata = this;
    SDL_AudioSpec obtained{};
    device_ = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (device_ == 0) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        render_ = nullptr;
        return false;
    }
    latency_ = obtained.samples;
    SDL_PauseAudioDevice(device_, 0);
    return true;
}

void SdlOutput::close()
{
    if (device_ == 0)
        return;
    SDL_CloseAudioDevice(device_);
    device_ = 0;
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    render_ = nullptr;
}

void SdlOutput::callback(void* user, uint8_t* stream, int length)
{
    auto* self = static_cast<SdlOutput*>(user);
    const int frames = length / static_cast<int>(sizeof(int16_t) * kOutputChannels);
    self->render_(reinterpret_cast<int16_t*>(stream), frames);
}

} // namespace vornel::audio
