// vornel-play [--blocks] URL: opens, buffers and plays an audio URL on the default output
// device the way the player does, reporting each step on stdout. SIGINT or SIGTERM end it at
// once, also while the device is being opened: the stream and the library are freed,
// "interrupted" is reported, and the exit status is 128 plus the signal's number (130, 143).
// --help prints the usage and exits 0.
#include "playback/audio_library.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <pthread.h>
#include <string>
#include <thread>

namespace {

std::atomic<int> stopSignal{0};

bool stopping()
{
    return stopSignal.load() != 0;
}

// SIGINT and SIGTERM are blocked in every thread and taken here, so that the engine's
// threads never see them. Freeing the library breaks off an open and every wait.
void watchSignals(sigset_t signals)
{
    std::thread([signals] {
        int signal = 0;
        if (sigwait(&signals, &signal) != 0)
            return;
        stopSignal = signal;
        BASS_Free();
    }).detach();
}

void say(const std::string& line)
{
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

void statusProc(const void* buffer, DWORD length, void* /*user*/)
{
    if (buffer && length == 0)
        say(std::string("status: ") + static_cast<const char*>(buffer));
}

void bufferUntilReady(HSTREAM stream)
{
    for (;;) {
        const auto total = static_cast<uint32_t>(BASS_StreamGetFilePosition(stream, BASS_FILEPOS_END));
        if (total == 0xFFFFFFFFu || total == 0)
            return;
        const QWORD buffered = BASS_StreamGetFilePosition(stream, BASS_FILEPOS_BUFFER);
        const auto percent = static_cast<uint32_t>(static_cast<int64_t>(buffered) * 100 / total);
        say("buffering: " + std::to_string(percent));
        if (percent > 75 || BASS_StreamGetFilePosition(stream, BASS_FILEPOS_CONNECTED) == 0 ||
            BASS_StreamGetFilePosition(stream, BASS_FILEPOS_BLOCKFULL) == 1)
            return;
        if (stopping())
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void reportTags(HSTREAM stream)
{
    const char* lines = BASS_ChannelGetTags(stream, BASS_TAG_ICY);
    if (!lines)
        lines = BASS_ChannelGetTags(stream, BASS_TAG_HTTP);
    for (; lines && *lines; lines += std::strlen(lines) + 1) {
        if (std::strncmp(lines, "icy-name:", 9) == 0 || std::strncmp(lines, "icy-br:", 7) == 0)
            say(std::string("tag: ") + lines);
    }
}

void playToEnd(HSTREAM stream)
{
    auto nextReport = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (!stopping()) {
        const QWORD length = BASS_ChannelGetLength(stream, BASS_POS_BYTE);
        const QWORD position = BASS_ChannelGetPosition(stream, BASS_POS_BYTE);
        const bool known = length != static_cast<QWORD>(-1) && position != static_cast<QWORD>(-1);
        if ((known && position >= length) || BASS_ChannelIsActive(stream) == BASS_ACTIVE_STOPPED)
            return;
        if (std::chrono::steady_clock::now() >= nextReport) {
            say("position: " + std::to_string(static_cast<int64_t>(position)) +
                " length: " + std::to_string(static_cast<int64_t>(length)));
            nextReport += std::chrono::seconds(1);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
}

int interrupted(HSTREAM stream)
{
    BASS_StreamFree(stream); // already gone with the library; harmless
    BASS_Free();
    say("interrupted");
    return 128 + stopSignal.load();
}

constexpr char kUsage[] = "usage: vornel-play [--blocks] URL\n"
                          "  plays an audio URL on the default output device, reporting each step\n"
                          "  --blocks  open the stream in block mode (no seeking, bounded memory)\n"
                          "  SIGINT or SIGTERM stop playback; the exit status is then 128 + the signal number\n";

} // namespace

int main(int argc, char** argv)
{
    bool blocks = false;
    std::string url;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--blocks") == 0)
            blocks = true;
        else
            url = argv[i];
    }
    if (url.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    watchSignals(signals);
    if (stopping())
        return interrupted(0);
    if (!BASS_Init(-1, 44100, 0, nullptr, nullptr)) {
        if (stopping())
            return interrupted(0);
        say("error: no output device (code " + std::to_string(BASS_ErrorGetCode()) + ")");
        return 1;
    }
    if (stopping())
        return interrupted(0);
    BASS_SetConfig(BASS_CONFIG_NET_PLAYLIST, 1);
    BASS_SetConfig(BASS_CONFIG_NET_PREBUF, 0);
    const DWORD flags =
        BASS_STREAM_STATUS | BASS_STREAM_AUTOFREE | BASS_STREAM_PRESCAN | (blocks ? BASS_STREAM_BLOCK : 0);
    const HSTREAM stream = BASS_StreamCreateURL(url.c_str(), 0, flags, statusProc, nullptr);
    if (stopping())
        return interrupted(stream);
    if (!stream) {
        say("error: open failed (code " + std::to_string(BASS_ErrorGetCode()) + ")");
        BASS_Free();
        return 1;
    }
    bufferUntilReady(stream);
    if (stopping())
        return interrupted(stream);
    reportTags(stream);
    BASS_ChannelPlay(stream, false);
    say("playing");
    playToEnd(stream);
    if (stopping())
        return interrupted(stream);
    say("ended");
    BASS_Free();
    return 0;
}
