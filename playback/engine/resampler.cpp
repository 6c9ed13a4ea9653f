#include "playback/engine/resampler.h"

#include "playback/engine/audio_output.h"

#include <soxr.h>

namespace vornel::audio {

Resampler::Resampler(int inputRate) : inputRate_(inputRate)
{
    if (inputRate_ == kOutputRate || inputRate_ <= 0)
        return;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_error_t error = nullptr;
    soxr_ = soxr_create(inputRate_, kOutputRate, kOutputChannels, &error, &io, &quality, &runtime);
    if (error)
        soxr_ = nullptr;
}

Resampler::~Resampler()
{
    if (soxr_)
        soxr_delete(soxr_);
}

bool Resampler::valid() const
{
    return soxr_ != nullptr || inputRate_ == kOutputRate;
}

void Resampler::process(const int16_t* stereo, size_t frames, std::vector<int16_t>& out)
{
    if (!soxr_) {
        out.insert(out.end(), stereo, stereo + frames * kOutputChannels);
        return;
    }
    run(stereo, frames, out);
}

void Resampler::drain(std::vector<int16_t>& out)
{
    if (soxr_)
        run(nullptr, 0, out);
}

// With no input (draining), soxr gives out what it holds; it is asked until it has
// nothing more. Every pass takes input or gives output, or the loop ends.
void Resampler::run(const int16_t* stereo, size_t frames, std::vector<int16_t>& out)
{
    const bool draining = stereo == nullptr;
    const size_t room = static_cast<size_t>(double(frames) * kOutputRate / inputRate_) + 1024;
    size_t consumed = 0;
    for (;;) {
        const size_t start = out.size();
        out.resize(start + room * kOutputChannels);
        size_t used = 0, produced = 0;
        const int16_t* input = draining ? nullptr : stereo + consumed * kOutputChannels;
        soxr_process(soxr_, input, draining ? 0 : frames - consumed, &used, out.data() + start, room, &produced);
        out.resize(start + produced * kOutputChannels);
        consumed += used;
        if (used == 0 && produced == 0)
            return;
        if (!draining && consumed >= frames && produced < room)
            return;
    }
}

} // namespace vornel::audio
