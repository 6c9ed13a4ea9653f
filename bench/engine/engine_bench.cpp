// Figures of the audio engine on an in-memory output that renders as fast as it is asked:
//   engine_bench first-sample URL [runs]   time from the open call to the first sample
//                                          handed to the output
//   engine_bench first-sample-device URL [runs]
//                                          the same through the default output device (real
//                                          time): up to the first render that carries sound
//   engine_bench memory URL [--blocks]     peak resident memory above the idle process
//                                          while the whole file streams and plays
//   engine_bench decode URL                CPU time to decode and mix the whole file once it
//                                          has arrived (prints "decode-cpu-seconds: <s>")
//   engine_bench stall-callback STALLING-URL URL [seconds]
//                                          the longest render of the default device while one
//                                          stream's server stops sending and another plays
#include "playback/audio_library.h"
#include "playback/engine/audio_output.h"
#include "playback/engine/memory_output.h"
#include "tests/support/peak_memory.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using vornel::test::restartPeakMemory;
using vornel::test::statusKilobytes;
using Clock = std::chrono::steady_clock;
constexpr DWORD kPlayerFlags = BASS_STREAM_STATUS | BASS_STREAM_AUTOFREE | BASS_STREAM_PRESCAN;

double millisSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

int firstSample(vornel::audio::MemoryOutput& output, const std::string& url, int runs)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        const HSTREAM stream = BASS_StreamCreateURL(url.c_str(), 0, kPlayerFlags, nullptr, nullptr);
        if (!stream) {
            std::printf("error: open failed (code %d)\n", BASS_ErrorGetCode());
            return 1;
        }
        BASS_ChannelPlay(stream, false);
        while (BASS_ChannelGetPosition(stream, BASS_POS_BYTE) == 0 && millisSince(start) < 5000)
            output.pull(256);
        times.push_back(millisSince(start));
        BASS_StreamFree(stream);
    }
    std::sort(times.begin(), times.end());
    std::printf("open to first sample: median %.2f ms, max %.2f ms over %d opens (goal < 50 ms)\n",
                times[times.size() / 2], times.back(), runs);
    return 0;
}

int memory(vornel::audio::MemoryOutput& output, const std::string& url, bool blocks)
{
    const long idle = statusKilobytes("VmRSS");
    const bool peakReset = restartPeakMemory();
    const HSTREAM stream =
        BASS_StreamCreateURL(url.c_str(), 0, kPlayerFlags | (blocks ? BASS_STREAM_BLOCK : 0), nullptr, nullptr);
    if (!stream) {
        std::printf("error: open failed (code %d)\n", BASS_ErrorGetCode());
        return 1;
    }
    const auto fileBytes = static_cast<double>(BASS_StreamGetFilePosition(stream, BASS_FILEPOS_END));
    BASS_ChannelPlay(stream, false);
    long peak = 0;
    QWORD largestBuffer = 0;
    while (BASS_ChannelIsActive(stream) != BASS_ACTIVE_STOPPED) {
        output.pull(44100);
        largestBuffer = std::max(largestBuffer, BASS_StreamGetFilePosition(stream, BASS_FILEPOS_BUFFER));
        peak = std::max(peak, statusKilobytes("VmRSS"));
    }
    if (peakReset)
        peak = std::max(peak, statusKilobytes("VmHWM"));
    const double above = (peak - idle) * 1024.0;
    if (blocks) {
        std::printf("block mode: peak %.0f KiB above idle for a %.1f MB file, block buffer at most %llu bytes"
                    " (goal: bounded, independent of the file size)\n",
                    above / 1024, fileBytes / 1e6, static_cast<unsigned long long>(largestBuffer));
    } else {
        std::printf("normal mode: peak %.2f MB above idle for a %.2f MB file = %.2fx the file (goal < 1.3x)\n",
                    above / 1e6, fileBytes / 1e6, above / fileBytes);
    }
    return 0;
}

double processCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

int decode(vornel::audio::MemoryOutput& output, const std::string& url)
{
    const HSTREAM stream = BASS_StreamCreateURL(url.c_str(), 0, kPlayerFlags, nullptr, nullptr);
    if (!stream) {
        std::printf("error: open failed (code %d)\n", BASS_ErrorGetCode());
        return 1;
    }
    while (BASS_StreamGetFilePosition(stream, BASS_FILEPOS_CONNECTED) == 1)
        output.pull(0);
    const double start = processCpuSeconds();
    BASS_ChannelPlay(stream, false);
    while (BASS_ChannelIsActive(stream) != BASS_ACTIVE_STOPPED)
        output.pull(4096);
    std::printf("decode-cpu-seconds: %.4f\n", processCpuSeconds() - start);
    return 0;
}

// The default output device, noting when a render first hands over a non-silent sample,
// and the longest time a render took.
class TimedDeviceOutput : public vornel::audio::AudioOutput {
public:
    explicit TimedDeviceOutput(std::shared_ptr<vornel::audio::AudioOutput> device) : device_(std::move(device)) {}

    const char* name() const override { return device_->name(); }
    bool open(vornel::audio::OutputCallbacks callbacks) override
    {
        auto render = std::move(callbacks.render);
        callbacks.render = [this, render](int16_t* out, int frames, int deviceFrames) {
            const auto start = Clock::now();
            const int64_t sinceLast =
                lastStart_.time_since_epoch().count() == 0
                    ? 0
                    : std::chrono::duration_cast<std::chrono::nanoseconds>(start - lastStart_).count();
            lastStart_ = start;
            if (sinceLast > longestGapNanos_)
                longestGapNanos_ = sinceLast;
            const bool playing = render(out, frames, deviceFrames);
            const auto took = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
            if (took > longestNanos_)
                longestNanos_ = took;
            ++callbacks_;
            if (armed_ && std::any_of(out, out + frames * 2, [](int16_t s) { return s != 0; })) {
                firstSound_ = Clock::now();
                armed_ = false;
            }
            return playing;
        };
        return device_->open(std::move(callbacks));
    }
    void cancelOpen() override { device_->cancelOpen(); }
    void close() override { device_->close(); }
    int latencyFrames() const override { return device_->latencyFrames(); }
    bool available() const override { return device_->available(); }
    void setActivity(vornel::audio::Activity activity, bool dropQueued) override
    {
        device_->setActivity(activity, dropQueued);
    }
    void replaceQueued(const std::function<bool()>& change) override { device_->replaceQueued(change); }
    bool setVolume(float volume) override { return device_->setVolume(volume); }

    void arm() { armed_ = true; }
    void resetTimes()
    {
        longestNanos_ = 0;
        longestGapNanos_ = 0;
        callbacks_ = 0;
    }
    double longestGapMillis() const { return double(longestGapNanos_.load()) / 1e6; }
    double longestMillis() const { return double(longestNanos_.load()) / 1e6; }
    long callbacks() const { return callbacks_.load(); }
    bool heard() const { return !armed_; }
    Clock::time_point firstSound() const { return firstSound_; }

private:
    std::shared_ptr<vornel::audio::AudioOutput> device_;
    std::atomic<bool> armed_{false};
    Clock::time_point firstSound_{};
    std::atomic<int64_t> longestNanos_{0};
    std::atomic<int64_t> longestGapNanos_{0};
    Clock::time_point lastStart_{}; // the callback's own
    std::atomic<long> callbacks_{0};
};

int stallCallback(TimedDeviceOutput& output, const std::string& stallingUrl, const std::string& url, int seconds)
{
    const HSTREAM stalling = BASS_StreamCreateURL(stallingUrl.c_str(), 0, kPlayerFlags, nullptr, nullptr);
    const HSTREAM playing = BASS_StreamCreateURL(url.c_str(), 0, kPlayerFlags, nullptr, nullptr);
    if (!stalling || !playing) {
        std::printf("error: open failed (code %d)\n", BASS_ErrorGetCode());
        return 1;
    }
    BASS_ChannelPlay(stalling, false);
    BASS_ChannelPlay(playing, false);
    output.resetTimes();
    const auto start = Clock::now();
    bool stalled = false;
    while (millisSince(start) < seconds * 1000.0) {
        // The window's position timer keeps asking meanwhile.
        BASS_ChannelGetPosition(stalling, BASS_POS_BYTE);
        BASS_ChannelGetLength(stalling, BASS_POS_BYTE);
        stalled = stalled || BASS_ChannelIsActive(stalling) == BASS_ACTIVE_STALLED;
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
    std::printf("longest render on the %s device while a connection stalls: %.3f ms over %ld renders"
                " (stream stalled: %s; goal < 1 ms)\n",
                output.name(), output.longestMillis(), output.callbacks(), stalled ? "yes" : "no");
    BASS_StreamFree(stalling);
    BASS_StreamFree(playing);
    return 0;
}

int firstSampleOnDevice(TimedDeviceOutput& output, const std::string& url, int runs)
{
    std::vector<double> times, opens;
    std::mt19937 random(12345);
    // The player opens the device at start-up, long before the first track: let it settle.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    output.resetTimes();
    for (int i = 0; i < runs; ++i) {
        // Opens at any point of the device's period, as a user's click comes.
        std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 150)(random)));
        output.arm();
        const auto start = Clock::now();
        const HSTREAM stream = BASS_StreamCreateURL(url.c_str(), 0, kPlayerFlags, nullptr, nullptr);
        if (!stream) {
            std::printf("error: open failed (code %d)\n", BASS_ErrorGetCode());
            return 1;
        }
        opens.push_back(millisSince(start));
        BASS_ChannelPlay(stream, false);
        while (!output.heard() && millisSince(start) < 5000)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        times.push_back(std::chrono::duration<double, std::milli>(output.firstSound() - start).count());
        BASS_StreamFree(stream);
    }
    std::sort(times.begin(), times.end());
    std::sort(opens.begin(), opens.end());
    std::printf("open to first sound handed to the %s device (%d frames latency): median %.2f ms, max %.2f ms"
                " over %d opens, of which the open call: median %.2f ms, max %.2f ms"
                " (goal < 150 ms: the open and at most one device period); longest gap between two device"
                " callbacks meanwhile %.2f ms, longest callback %.3f ms\n",
                output.name(), output.latencyFrames(), times[times.size() / 2], times.back(), runs,
                opens[opens.size() / 2], opens.back(), output.longestGapMillis(), output.longestMillis());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fputs("usage: engine_bench first-sample[-device] URL [runs] | memory URL [--blocks] | decode URL |"
                   " stall-callback STALLING-URL URL [seconds]\n",
                   stderr);
        return 2;
    }
    const std::string mode = argv[1], url = argv[2];
    auto output = std::make_shared<vornel::audio::MemoryOutput>();
    const bool onDevice = mode == "first-sample-device" || mode == "stall-callback";
    auto device = std::make_shared<TimedDeviceOutput>(onDevice ? vornel::audio::takeAudioOutput() : nullptr);
    if (onDevice)
        vornel::audio::injectAudioOutput(device);
    else
        vornel::audio::injectAudioOutput(output);
    if (!BASS_Init(-1, 44100, 0, nullptr, nullptr)) {
        std::printf("error: init failed (code %d)\n", BASS_ErrorGetCode());
        return 1;
    }
    BASS_SetConfig(BASS_CONFIG_NET_PLAYLIST, 1);
    BASS_SetConfig(BASS_CONFIG_NET_PREBUF, 0);
    int status = 2;
    if (mode == "first-sample-device")
        status = firstSampleOnDevice(*device, url, argc > 3 ? std::atoi(argv[3]) : 20);
    else if (mode == "first-sample")
        status = firstSample(*output, url, argc > 3 ? std::atoi(argv[3]) : 20);
    else if (mode == "stall-callback" && argc > 3)
        status = stallCallback(*device, url, argv[3], argc > 4 ? std::atoi(argv[4]) : 6);
    else if (mode == "decode")
        status = decode(*output, url);
    else if (mode == "memory")
        status = memory(*output, url, argc > 3 && std::strcmp(argv[3], "--blocks") == 0);
    BASS_Free();
    return status;
}
