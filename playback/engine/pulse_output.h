#pragma once
// The output device on a PulseAudio (or pipewire-pulse) server through libpulse: S16LE
// stereo at 44100 Hz.
// - The stream exists only while something plays or is paused, so that neither the server
//   nor this process works for it otherwise; it starts with its first sound already written.
// - Pause corks it at once and keeps what the server holds; a seek or a freed stream drops
//   that. So the server may hold a generous buffer, and the process wakes rarely.
// - When the server goes away (or stops asking for sound) the output is unavailable; while
//   something wants to play it connects again with back-off and plays on where it stopped.
// - The volume is the stream's own, set on every stream it opens; a change made in the
//   desktop's mixer is passed on.
// Every libpulse call runs on the mainloop's thread or with its lock held, and nothing here
// waits for the server with that lock held, except open() itself.
#include "playback/engine/audio_output.h"

#include <pulse/def.h>
#include <pulse/volume.h>

#include <atomic>
#include <chrono>
#include <mutex>

struct pa_context;
struct pa_mainloop_api;
struct pa_stream;
struct pa_threaded_mainloop;
struct pa_time_event;
struct pa_sink_input_info;
struct timeval;

namespace vornel::audio {

class PulseOutput : public AudioOutput {
public:
    // openBound limits open() as a whole: the connect and the first stream.
    explicit PulseOutput(std::chrono::milliseconds openBound = std::chrono::seconds(3));
    ~PulseOutput() override;

    const char* name() const override { return "pulse"; }
    bool open(OutputCallbacks callbacks) override;
    void cancelOpen() override;
    void close() override;
    int latencyFrames() const override { return latency_.load(std::memory_order_relaxed); }
    bool available() const override { return available_.load(std::memory_order_relaxed); }
    void setActivity(Activity activity, bool dropQueued) override;
    void replaceQueued(const std::function<bool()>& change) override;
    bool setVolume(float volume) override;

private:
    using TimerCallback = void (*)(pa_mainloop_api*, pa_time_event*, const struct timeval*, void*);

    // With the mainloop's lock held, from here on.
    void connect();
    void createStream();
    void streamReady();
    bool streamUsable() const;
    void fail();
    void lose();
    void retryLater();
    void start();
    void stop(bool drop);
    void fill(size_t bytes);
    void updateLatency();
    void sendVolume();
    void arm(pa_time_event*& timer, std::chrono::milliseconds delay, TimerCallback callback);
    void disarm(pa_time_event*& timer);
    void dropStream();
    void dropContext();

    static void onContextState(pa_context* context, void* self);
    static void onStreamState(pa_stream* stream, void* self);
    static void onWritable(pa_stream* stream, size_t bytes, void* self);
    static void onTiming(pa_stream* stream, int success, void* self);
    static void onEvent(pa_context* context, pa_subscription_event_type_t type, uint32_t index, void* self);
    static void onSinkInputInfo(pa_context* context, const pa_sink_input_info* info, int eol, void* self);
    static void onVolumeSent(pa_context* context, int success, void* self);
    static void onFailure(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self);
    static void onAttemptTimeout(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self);
    static void onRetry(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self);
    static void onSilentServer(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self);

    const std::chrono::milliseconds openBound_;
    OutputCallbacks callbacks_;

    // Guards the mainloop's existence; held only briefly, never while open() waits.
    std::mutex mainloopMutex_;
    pa_threaded_mainloop* mainloop_ = nullptr;
    std::atomic<bool> cancelled_{false};

    // With the mainloop's lock.
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    bool opening_ = false;    // open() waits for the first stream; no retries meanwhile
    bool openFailed_ = false; // that first attempt failed or timed out
    Activity activity_ = Activity::None;
    bool running_ = false;   // uncorked and answering the server's requests
    int64_t idleFrames_ = 0; // frames written since the last that a playing stream filled
    int framesSinceTiming_ = 0;
    std::chrono::milliseconds backoff_{0};
    pa_time_event* failureTimer_ = nullptr; // the context or stream failed: tear down soon
    pa_time_event* attemptTimer_ = nullptr; // a connect that takes too long
    pa_time_event* retryTimer_ = nullptr;   // the next connect
    pa_time_event* silenceTimer_ = nullptr; // a running stream whose server stopped asking
    pa_volume_t volume_ = PA_VOLUME_NORM;   // the stream's, as last set or heard
    pa_volume_t createdVolume_ = PA_VOLUME_NORM;
    int volumeSends_ = 0; // own volume changes the server has not confirmed
    uint32_t sinkInput_ = PA_INVALID_INDEX;

    std::atomic<int> latency_{0};
    std::atomic<bool> available_{false};
};

} // namespace vornel::audio
