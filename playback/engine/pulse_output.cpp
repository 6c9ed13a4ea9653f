#include "playback/engine/pulse_output.h"

#include <pulse/pulseaudio.h>

#include <algorithm>

namespace vornel::audio {
namespace {

constexpr char kName[] = "VornelPlayer";
constexpr int kFrameBytes = static_cast<int>(sizeof(int16_t)) * kOutputChannels;
// What the server holds ahead of the listener, and how much room it gathers before it asks
// for more: each request is a wake of the process.
constexpr int kTargetFrames = kOutputRate / 10;
constexpr int kRequestFrames = kOutputRate / 25;
// The stream's timing is asked for this often rather than kept current by the server,
// which costs the process a wake on each update.
constexpr int kTimingUpdateFrames = kOutputRate;
// A server that takes longer than this to accept a connection or a stream counts as absent.
constexpr pa_usec_t kConnectTimeout = 3 * PA_USEC_PER_SEC;

pa_proplist* playerProperties()
{
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, kName);
    pa_proplist_sets(properties, PA_PROP_MEDIA_ROLE, "music");
    return properties;
}

} // namespace

PulseOutput::~PulseOutput()
{
    close();
}

template <typename Ready, typename Failed>
bool PulseOutput::waitFor(Ready ready, Failed failed)
{
    timedOut_ = false;
    auto* api = pa_threaded_mainloop_get_api(mainloop_);
    auto onTimeout = [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* user) {
        auto* self = static_cast<PulseOutput*>(user);
        self->timedOut_ = true;
        pa_threaded_mainloop_signal(self->mainloop_, 0);
    };
    pa_time_event* timer = pa_context_rttime_new(context_, pa_rtclock_now() + kConnectTimeout, onTimeout, this);
    while (!ready() && !failed() && !timedOut_)
        pa_threaded_mainloop_wait(mainloop_);
    if (timer)
        api->time_free(timer);
    return ready();
}

bool PulseOutput::connect()
{
    if (context_)
        return true;
    mainloop_ = pa_threaded_mainloop_new();
    if (!mainloop_)
        return false;
    pa_proplist* properties = playerProperties();
    context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(mainloop_), kName, properties);
    pa_proplist_free(properties);
    bool connected = false;
    if (context_) {
        pa_context_set_state_callback(context_, &PulseOutput::onContextState, this);
        pa_threaded_mainloop_lock(mainloop_);
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) == 0 &&
            pa_threaded_mainloop_start(mainloop_) == 0) {
            connected = waitFor([this] { return pa_context_get_state(context_) == PA_CONTEXT_READY; },
                                [this] { return !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)); });
        }
        pa_threaded_mainloop_unlock(mainloop_);
    }
    if (!connected)
        close();
    return connected;
}

bool PulseOutput::open(RenderFunction render, CatchUpFunction /*catchUp*/)
{
    if (stream_ || !connect())
        return false;
    render_ = std::move(render);
    latency_.store(kTargetFrames, std::memory_order_relaxed);
    framesSinceTiming_ = 0;
    pa_threaded_mainloop_lock(mainloop_);
    const bool playing = startPlayback();
    pa_threaded_mainloop_unlock(mainloop_);
    if (!playing)
        close();
    return playing;
}

// Called with the mainloop locked.
bool PulseOutput::startPlayback()
{
    const pa_sample_spec format{PA_SAMPLE_S16LE, static_cast<uint32_t>(kOutputRate),
                                static_cast<uint8_t>(kOutputChannels)};
    pa_proplist* properties = playerProperties();
    stream_ = pa_stream_new_with_proplist(context_, kName, &format, nullptr, properties);
    pa_proplist_free(properties);
    if (!stream_)
        return false;
    pa_stream_set_state_callback(stream_, &PulseOutput::onStreamState, this);
    pa_stream_set_write_callback(stream_, &PulseOutput::onWritable, this);
    pa_buffer_attr buffer{};
    buffer.maxlength = static_cast<uint32_t>(-1);
    buffer.tlength = kTargetFrames * kFrameBytes;
    buffer.prebuf = static_cast<uint32_t>(-1);
    buffer.minreq = kRequestFrames * kFrameBytes;
    buffer.fragsize = static_cast<uint32_t>(-1);
    const auto flags = PA_STREAM_ADJUST_LATENCY;
    if (pa_stream_connect_playback(stream_, nullptr, &buffer, flags, nullptr, nullptr) != 0)
        return false;
    return waitFor([this] { return pa_stream_get_state(stream_) == PA_STREAM_READY; },
                   [this] { return !PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)); });
}

// A close is a stop: whatever the server still holds is dropped with the stream.
void PulseOutput::close()
{
    if (!mainloop_)
        return;
    pa_threaded_mainloop_lock(mainloop_);
    if (stream_) {
        pa_stream_set_write_callback(stream_, nullptr, nullptr);
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
        stream_ = nullptr;
    }
    if (context_) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
    pa_threaded_mainloop_unlock(mainloop_);
    // Joins the mainloop's thread: no callback, and so no render, runs after this.
    pa_threaded_mainloop_stop(mainloop_);
    pa_threaded_mainloop_free(mainloop_);
    mainloop_ = nullptr;
    render_ = nullptr;
}

// On the mainloop's thread with the mainloop locked; render takes no lock and never waits.
void PulseOutput::fill(size_t bytes)
{
    while (bytes >= static_cast<size_t>(kFrameBytes)) {
        void* data = nullptr;
        size_t length = bytes;
        if (pa_stream_begin_write(stream_, &data, &length) != 0 || !data)
            return;
        const int frames = static_cast<int>(length / kFrameBytes);
        if (frames == 0) {
            pa_stream_cancel_write(stream_);
            return;
        }
        render_(static_cast<int16_t*>(data), frames);
        const size_t written = static_cast<size_t>(frames) * kFrameBytes;
        if (pa_stream_write(stream_, data, written, nullptr, 0, PA_SEEK_RELATIVE) != 0)
            return;
        bytes -= std::min(bytes, written);
        framesSinceTiming_ += frames;
    }
    if (framesSinceTiming_ >= kTimingUpdateFrames) {
        framesSinceTiming_ = 0;
        if (pa_operation* update = pa_stream_update_timing_info(stream_, &PulseOutput::onTiming, this))
            pa_operation_unref(update);
    }
}

// From a timing just sent by the server (it goes stale as playback moves on), so that no
// caller waits for a round trip.
void PulseOutput::updateLatency()
{
    pa_usec_t latency = 0;
    int negative = 0;
    if (pa_stream_get_latency(stream_, &latency, &negative) != 0)
        return;
    const pa_usec_t frames = negative ? 0 : latency * kOutputRate / PA_USEC_PER_SEC;
    latency_.store(static_cast<int>(std::min<pa_usec_t>(frames, kOutputRate)), std::memory_order_relaxed);
}

void PulseOutput::onContextState(pa_context* /*context*/, void* self)
{
    pa_threaded_mainloop_signal(static_cast<PulseOutput*>(self)->mainloop_, 0);
}

void PulseOutput::onStreamState(pa_stream* /*stream*/, void* self)
{
    pa_threaded_mainloop_signal(static_cast<PulseOutput*>(self)->mainloop_, 0);
}

void PulseOutput::onTiming(pa_stream* /*stream*/, int success, void* self)
{
    if (success)
        static_cast<PulseOutput*>(self)->updateLatency();
}

void PulseOutput::onWritable(pa_stream* /*stream*/, size_t bytes, void* self)
{
    static_cast<PulseOutput*>(self)->fill(bytes);
}

} // namespace vornel::audio
