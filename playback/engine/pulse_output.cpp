#include "playback/engine/pulse_output.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cmath>

namespace vornel::audio {
namespace {

using std::chrono::milliseconds;

constexpr char kName[] = "VornelPlayer";
constexpr int kFrameBytes = static_cast<int>(sizeof(int16_t)) * kOutputChannels;
// What the server holds ahead of the listener, and how much room it gathers before it asks
// for more: each request is a wake of the process. Pause, seek and a new track do not wait
// for this buffer (cork and flush), so it can be generous.
constexpr int kTargetFrames = kOutputRate * 3 / 10;
constexpr int kRequestFrames = kOutputRate * 3 / 20;
// The stream's timing is asked for this often rather than kept current by the server,
// which costs the process a wake on each update.
constexpr int kTimingUpdateFrames = kOutputRate;
// A later connect (after the server went away) that takes longer than this is given up.
constexpr milliseconds kAttemptBound{3000};
// Waits between connects while the server is away: doubling up to the last.
constexpr milliseconds kFirstRetry{50};
constexpr milliseconds kLastRetry{1000};
// A running stream whose server has not asked for sound this long cannot play for now. An
// idle null sink may first sleep out a block of up to 2 s before it asks.
constexpr milliseconds kSilentServer{3000};

pa_proplist* playerProperties()
{
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, kName);
    pa_proplist_sets(properties, PA_PROP_MEDIA_ROLE, "music");
    return properties;
}

void finish(pa_operation* operation)
{
    if (operation)
        pa_operation_unref(operation);
}

pa_volume_t toPulse(float volume)
{
    return static_cast<pa_volume_t>(std::lround(std::clamp(volume, 0.0f, 1.0f) * PA_VOLUME_NORM));
}

float fromPulse(pa_volume_t volume)
{
    return std::min(1.0f, static_cast<float>(volume) / static_cast<float>(PA_VOLUME_NORM));
}

// Locks the mainloop, unless the caller is its own thread (a callback), which holds it.
class MainloopLock {
public:
    explicit MainloopLock(pa_threaded_mainloop* mainloop)
        : mainloop_(pa_threaded_mainloop_in_thread(mainloop) ? nullptr : mainloop)
    {
        if (mainloop_)
            pa_threaded_mainloop_lock(mainloop_);
    }
    ~MainloopLock()
    {
        if (mainloop_)
            pa_threaded_mainloop_unlock(mainloop_);
    }
    MainloopLock(const MainloopLock&) = delete;
    MainloopLock& operator=(const MainloopLock&) = delete;

private:
    pa_threaded_mainloop* mainloop_;
};

PulseOutput* self(void* user)
{
    return static_cast<PulseOutput*>(user);
}

} // namespace

PulseOutput::PulseOutput(milliseconds openBound) : openBound_(openBound) {}

PulseOutput::~PulseOutput()
{
    close();
}

bool PulseOutput::open(OutputCallbacks callbacks)
{
    {
        std::lock_guard lock(mainloopMutex_);
        if (mainloop_ || cancelled_)
            return false;
        mainloop_ = pa_threaded_mainloop_new();
        if (!mainloop_)
            return false;
    }
    callbacks_ = std::move(callbacks);
    latency_.store(kTargetFrames, std::memory_order_relaxed);
    pa_threaded_mainloop_lock(mainloop_);
    opening_ = true;
    openFailed_ = false;
    if (pa_threaded_mainloop_start(mainloop_) == 0) {
        connect();
        while (!available_ && !openFailed_ && !cancelled_)
            pa_threaded_mainloop_wait(mainloop_);
    }
    opening_ = false;
    const bool opened = available_ && !cancelled_;
    // The server takes a stream; until something plays it need not hold one.
    if (opened && activity_ == Activity::None)
        dropStream();
    pa_threaded_mainloop_unlock(mainloop_);
    if (!opened)
        close();
    return opened;
}

void PulseOutput::cancelOpen()
{
    std::lock_guard lock(mainloopMutex_);
    cancelled_ = true;
    if (mainloop_) {
        MainloopLock loop(mainloop_);
        pa_threaded_mainloop_signal(mainloop_, 0);
    }
}

// A close is a stop: whatever the server still holds is dropped with the stream.
void PulseOutput::close()
{
    std::lock_guard lock(mainloopMutex_);
    if (!mainloop_)
        return;
    pa_threaded_mainloop_lock(mainloop_);
    activity_ = Activity::None;
    running_ = false;
    available_ = false;
    disarm(failureTimer_);
    disarm(attemptTimer_);
    disarm(retryTimer_);
    disarm(silenceTimer_);
    dropStream();
    dropContext();
    pa_threaded_mainloop_unlock(mainloop_);
    // Joins the mainloop's thread: no callback, and so no render, runs after this.
    pa_threaded_mainloop_stop(mainloop_);
    pa_threaded_mainloop_free(mainloop_);
    mainloop_ = nullptr;
}

void PulseOutput::setActivity(Activity activity, bool dropQueued)
{
    std::lock_guard lock(mainloopMutex_);
    if (!mainloop_)
        return;
    MainloopLock loop(mainloop_);
    activity_ = activity;
    switch (activity) {
    case Activity::None:
        stop(false);
        dropStream();
        break;
    case Activity::Paused: stop(dropQueued); break;
    case Activity::Playing:
        if (stream_)
            start();
        else if (context_ && pa_context_get_state(context_) == PA_CONTEXT_READY)
            createStream();
        else if (!context_ && !retryTimer_)
            connect();
        break; // a connect under way makes the stream once it is ready
    }
}

void PulseOutput::replaceQueued(const std::function<bool()>& change)
{
    std::lock_guard lock(mainloopMutex_);
    if (!mainloop_) {
        change();
        return;
    }
    MainloopLock loop(mainloop_);
    if (change() && streamUsable())
        finish(pa_stream_flush(stream_, nullptr, nullptr));
}

bool PulseOutput::setVolume(float volume)
{
    std::lock_guard lock(mainloopMutex_);
    if (!mainloop_) {
        volume_ = toPulse(volume);
        return true;
    }
    MainloopLock loop(mainloop_);
    volume_ = toPulse(volume);
    sendVolume();
    return true;
}

// --- with the mainloop's lock held ---------------------------------------------------------

void PulseOutput::connect()
{
    pa_proplist* properties = playerProperties();
    context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(mainloop_), kName, properties);
    pa_proplist_free(properties);
    if (!context_) {
        fail();
        return;
    }
    pa_context_set_state_callback(context_, &PulseOutput::onContextState, this);
    pa_context_set_subscribe_callback(context_, &PulseOutput::onEvent, this);
    arm(attemptTimer_, opening_ ? openBound_ : kAttemptBound, &PulseOutput::onAttemptTimeout);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) != 0)
        fail();
}

void PulseOutput::createStream()
{
    const pa_sample_spec format{PA_SAMPLE_S16LE, static_cast<uint32_t>(kOutputRate),
                                static_cast<uint8_t>(kOutputChannels)};
    pa_proplist* properties = playerProperties();
    stream_ = pa_stream_new_with_proplist(context_, kName, &format, nullptr, properties);
    pa_proplist_free(properties);
    if (!stream_) {
        fail();
        return;
    }
    pa_stream_set_state_callback(stream_, &PulseOutput::onStreamState, this);
    pa_stream_set_write_callback(stream_, &PulseOutput::onWritable, this);
    pa_buffer_attr buffer{};
    buffer.maxlength = static_cast<uint32_t>(-1);
    buffer.tlength = kTargetFrames * kFrameBytes;
    buffer.prebuf = static_cast<uint32_t>(-1);
    buffer.minreq = kRequestFrames * kFrameBytes;
    buffer.fragsize = static_cast<uint32_t>(-1);
    pa_cvolume volume;
    pa_cvolume_set(&volume, kOutputChannels, volume_);
    createdVolume_ = volume_;
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_START_CORKED);
    if (pa_stream_connect_playback(stream_, nullptr, &buffer, flags, &volume, nullptr) != 0)
        fail();
}

void PulseOutput::streamReady()
{
    disarm(attemptTimer_);
    backoff_ = milliseconds(0);
    sinkInput_ = pa_stream_get_index(stream_);
    running_ = false;
    available_ = true;
    if (volume_ != createdVolume_)
        sendVolume();                          // changed while the stream was being made
    pa_threaded_mainloop_signal(mainloop_, 0); // open() waits for this
    if (activity_ == Activity::Playing)
        start();
    else if (activity_ == Activity::None && !opening_)
        dropStream(); // nothing is left to play
}

// The context or the stream failed. They are torn down from the mainloop, not inside the
// callback of the object that failed.
void PulseOutput::fail()
{
    available_ = false;
    running_ = false;
    arm(failureTimer_, milliseconds(0), &PulseOutput::onFailure);
}

// The server went away, refused or did not answer in time. Whatever it held is lost.
void PulseOutput::lose()
{
    available_ = false;
    running_ = false;
    disarm(failureTimer_);
    disarm(attemptTimer_);
    disarm(silenceTimer_);
    dropStream();
    dropContext();
    volumeSends_ = 0;
    sinkInput_ = PA_INVALID_INDEX;
    if (opening_) {
        openFailed_ = true;
        pa_threaded_mainloop_signal(mainloop_, 0);
    } else if (activity_ == Activity::Playing) {
        retryLater();
    }
}

void PulseOutput::retryLater()
{
    if (retryTimer_)
        return;
    backoff_ = backoff_.count() == 0 ? kFirstRetry : std::min(backoff_ * 2, kLastRetry);
    arm(retryTimer_, backoff_, &PulseOutput::onRetry);
}

// Uncorks with the first sound already written, and starts at once.
void PulseOutput::start()
{
    if (running_ || !streamUsable())
        return;
    running_ = true;
    idleFrames_ = 0;
    finish(pa_stream_cork(stream_, 0, nullptr, nullptr));
    const size_t writable = pa_stream_writable_size(stream_);
    if (writable != static_cast<size_t>(-1))
        fill(writable);
    finish(pa_stream_trigger(stream_, nullptr, nullptr));
    arm(silenceTimer_, kSilentServer, &PulseOutput::onSilentServer);
}

void PulseOutput::stop(bool drop)
{
    if (streamUsable()) {
        if (running_)
            finish(pa_stream_cork(stream_, 1, nullptr, nullptr));
        if (drop)
            finish(pa_stream_flush(stream_, nullptr, nullptr));
    }
    running_ = false;
    disarm(silenceTimer_);
}

// On the mainloop's thread, or in start(); render takes no lock and never waits. A corked
// stream leaves the server's request open until it starts again.
void PulseOutput::fill(size_t bytes)
{
    if (!running_ || !stream_)
        return;
    const int deviceFrames = latency_.load(std::memory_order_relaxed);
    while (bytes >= static_cast<size_t>(kFrameBytes)) {
        void* data = nullptr;
        size_t length = bytes;
        if (pa_stream_begin_write(stream_, &data, &length) != 0 || !data)
            break;
        const int frames = static_cast<int>(length / kFrameBytes);
        if (frames == 0) {
            pa_stream_cancel_write(stream_);
            break;
        }
        const bool playing = callbacks_.render(static_cast<int16_t*>(data), frames, deviceFrames);
        const size_t written = static_cast<size_t>(frames) * kFrameBytes;
        if (pa_stream_write(stream_, data, written, nullptr, 0, PA_SEEK_RELATIVE) != 0)
            break;
        bytes -= std::min(bytes, written);
        framesSinceTiming_ += frames;
        idleFrames_ = playing ? 0 : idleFrames_ + frames;
    }
    available_ = true; // a server that stopped answering asks again
    arm(silenceTimer_, kSilentServer, &PulseOutput::onSilentServer);
    if (framesSinceTiming_ >= kTimingUpdateFrames) {
        framesSinceTiming_ = 0;
        finish(pa_stream_update_timing_info(stream_, &PulseOutput::onTiming, this));
    }
    // Once the server holds nothing but silence, nothing is lost by stopping.
    if (idleFrames_ >= deviceFrames + kRequestFrames)
        stop(true);
}

// From a timing just sent by the server (it goes stale as playback moves on), so that no
// caller waits for a round trip.
void PulseOutput::updateLatency()
{
    pa_usec_t latency = 0;
    int negative = 0;
    if (!stream_ || pa_stream_get_latency(stream_, &latency, &negative) != 0)
        return;
    const pa_usec_t frames = negative ? 0 : latency * kOutputRate / PA_USEC_PER_SEC;
    latency_.store(static_cast<int>(std::min<pa_usec_t>(frames, kOutputRate)), std::memory_order_relaxed);
}

bool PulseOutput::streamUsable() const
{
    return stream_ && available_ && pa_stream_get_state(stream_) == PA_STREAM_READY;
}

void PulseOutput::sendVolume()
{
    if (!context_ || !stream_ || pa_stream_get_state(stream_) != PA_STREAM_READY)
        return; // the next stream starts with it
    pa_cvolume volume;
    pa_cvolume_set(&volume, kOutputChannels, volume_);
    if (pa_operation* sent =
            pa_context_set_sink_input_volume(context_, sinkInput_, &volume, &PulseOutput::onVolumeSent, this)) {
        ++volumeSends_;
        pa_operation_unref(sent);
    }
}

void PulseOutput::arm(pa_time_event*& timer, milliseconds delay, TimerCallback callback)
{
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(mainloop_);
    timeval at{};
    pa_gettimeofday(&at);
    pa_timeval_add(&at, static_cast<pa_usec_t>(delay.count()) * PA_USEC_PER_MSEC);
    if (timer)
        api->time_restart(timer, &at);
    else
        timer = api->time_new(api, &at, callback, this);
}

void PulseOutput::disarm(pa_time_event*& timer)
{
    if (!timer)
        return;
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(mainloop_);
    api->time_free(timer);
    timer = nullptr;
}

void PulseOutput::dropStream()
{
    running_ = false;
    sinkInput_ = PA_INVALID_INDEX;
    if (!stream_)
        return;
    pa_stream_set_write_callback(stream_, nullptr, nullptr);
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
}

void PulseOutput::dropContext()
{
    if (!context_)
        return;
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_set_subscribe_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
    context_ = nullptr;
}

// --- callbacks, on the mainloop's thread -------------------------------------------------

void PulseOutput::onContextState(pa_context* context, void* user)
{
    PulseOutput& output = *self(user);
    switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY:
        finish(pa_context_subscribe(context, PA_SUBSCRIPTION_MASK_SINK_INPUT, nullptr, nullptr));
        if (output.opening_ || output.activity_ == Activity::Playing)
            output.createStream();
        break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED: output.fail(); break;
    default: break;
    }
}

void PulseOutput::onStreamState(pa_stream* stream, void* user)
{
    PulseOutput& output = *self(user);
    switch (pa_stream_get_state(stream)) {
    case PA_STREAM_READY: output.streamReady(); break;
    case PA_STREAM_FAILED:
    case PA_STREAM_TERMINATED: output.fail(); break;
    default: break;
    }
}

void PulseOutput::onWritable(pa_stream* /*stream*/, size_t bytes, void* user)
{
    self(user)->fill(bytes);
}

void PulseOutput::onTiming(pa_stream* /*stream*/, int success, void* user)
{
    if (success)
        self(user)->updateLatency();
}

// Any change of the stream's sink input (its volume, but also a cork) is looked at.
void PulseOutput::onEvent(pa_context* context, pa_subscription_event_type_t type, uint32_t index, void* user)
{
    PulseOutput& output = *self(user);
    const bool ourInput = (type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) == PA_SUBSCRIPTION_EVENT_SINK_INPUT &&
                          (type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_CHANGE &&
                          index == output.sinkInput_;
    if (ourInput)
        finish(pa_context_get_sink_input_info(context, index, &PulseOutput::onSinkInputInfo, user));
}

// While an own change is unconfirmed the server may still show an older volume; the
// confirmation's own change event looks again.
void PulseOutput::onSinkInputInfo(pa_context* /*context*/, const pa_sink_input_info* info, int eol, void* user)
{
    PulseOutput& output = *self(user);
    if (eol || !info || info->index != output.sinkInput_ || output.volumeSends_ > 0)
        return;
    const pa_volume_t heard = pa_cvolume_max(&info->volume);
    if (heard == output.volume_)
        return;
    output.volume_ = heard;
    if (output.callbacks_.volumeChanged)
        output.callbacks_.volumeChanged(fromPulse(heard));
}

void PulseOutput::onVolumeSent(pa_context* /*context*/, int /*success*/, void* user)
{
    PulseOutput& output = *self(user);
    if (output.volumeSends_ > 0)
        --output.volumeSends_;
}

void PulseOutput::onFailure(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* user)
{
    self(user)->lose();
}

void PulseOutput::onAttemptTimeout(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* user)
{
    PulseOutput& output = *self(user);
    output.disarm(output.attemptTimer_);
    if (!output.available_)
        output.lose();
}

void PulseOutput::onRetry(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* user)
{
    PulseOutput& output = *self(user);
    output.disarm(output.retryTimer_);
    if (!output.context_ && output.activity_ == Activity::Playing)
        output.connect();
}

void PulseOutput::onSilentServer(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* user)
{
    PulseOutput& output = *self(user);
    output.disarm(output.silenceTimer_);
    if (output.running_)
        output.available_ = false;
}

} // namespace vornel::audio
