#include "playback/stream_worker.h"

#include "playback/player_notify.h"

#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

namespace vornel::playback {

std::atomic<bool> useBlocks{false};

namespace {
// One word for the newest worker's generation (high half) and the current stream (low
// half), so that taking over and publishing a stream cannot interleave wrongly.
std::atomic<uint64_t> workerSlot{0};

uint32_t generationOf(uint64_t slot)
{
    return static_cast<uint32_t>(slot >> 32);
}
HSTREAM streamOf(uint64_t slot)
{
    return static_cast<HSTREAM>(slot & 0xFFFFFFFFu);
}
uint64_t slotOf(uint32_t generation, HSTREAM stream)
{
    return (static_cast<uint64_t>(generation) << 32) | stream;
}

// The generation of the worker running on this thread (0 on other threads). The engine
// calls DownloadStatusProc on the opening thread, so a status call of an overtaken
// worker's open is recognised by it.
thread_local uint32_t workerGeneration = 0;

// Becomes the newest worker; returns its generation and the stream it took over.
uint32_t takeOver(HSTREAM& previous)
{
    uint64_t slot = workerSlot.load();
    uint64_t next;
    do {
        uint32_t generation = generationOf(slot) + 1;
        if (generation == 0)
            generation = 1;
        next = slotOf(generation, streamOf(slot));
    } while (!workerSlot.compare_exchange_weak(slot, next));
    previous = streamOf(slot);
    return generationOf(next);
}

bool isNewest(uint32_t generation)
{
    return generationOf(workerSlot.load()) == generation;
}

// Makes stream the current one if this worker is still the newest.
bool publish(uint32_t generation, HSTREAM stream)
{
    uint64_t slot = workerSlot.load();
    while (generationOf(slot) == generation) {
        if (workerSlot.compare_exchange_weak(slot, slotOf(generation, stream)))
            return true;
    }
    return false;
}

// Reports only while this worker is the newest; false once it has been overtaken.
bool report(uint32_t generation, uint32_t code, intptr_t value)
{
    if (!isNewest(generation))
        return false;
    sendPlayerNotify(code, value);
    return true;
}

void launchDetached(std::function<void()> work)
{
    std::thread(std::move(work)).detach();
}

std::function<void(std::function<void()>)> workerLauncher = launchDetached;

bool startsWith(const char* line, const char* prefix)
{
    return std::strncmp(line, prefix, std::strlen(prefix)) == 0;
}

enum class Buffering { Done, Overtaken };

Buffering bufferStream(uint32_t generation, HSTREAM stream)
{
    for (;;) {
        if (!isNewest(generation))
            return Buffering::Overtaken;
        const uint32_t total = static_cast<uint32_t>(BASS_StreamGetFilePosition(stream, BASS_FILEPOS_END));
        // A failed query ends the buffering; an unknown (0) total cannot be measured.
        if (total == 0xFFFFFFFFu || total == 0)
            return Buffering::Done;
        const int64_t buffered = static_cast<int64_t>(BASS_StreamGetFilePosition(stream, BASS_FILEPOS_BUFFER));
        const uint32_t percent = static_cast<uint32_t>(buffered * 100 / static_cast<int64_t>(total));
        if (!report(generation, PN_BUFFERING, static_cast<intptr_t>(percent)))
            return Buffering::Overtaken;
        if (percent > 75)
            return Buffering::Done;
        if (BASS_StreamGetFilePosition(stream, BASS_FILEPOS_CONNECTED) == 0)
            return Buffering::Done;
        // A block stream's buffer is bounded and may never hold 76 per cent of the file.
        if (BASS_StreamGetFilePosition(stream, BASS_FILEPOS_BLOCKFULL) == 1)
            return Buffering::Done;
        std::this_thread::sleep_for(std::chrono::milliseconds(bufferingPassWaitMs));
    }
}

// Walks the header lines; false once the worker has been overtaken.
bool reportHeaderLines(uint32_t generation, HSTREAM stream)
{
    const char* lines = BASS_ChannelGetTags(stream, BASS_TAG_ICY);
    if (!lines)
        lines = BASS_ChannelGetTags(stream, BASS_TAG_HTTP);
    if (!lines)
        return true;
    for (const char* line = lines; *line; line += std::strlen(line) + 1) {
        if (startsWith(line, "icy-name:")) {
            const std::string name(line + 9);
            if (!report(generation, PN_PLAYING, reinterpret_cast<intptr_t>(name.c_str())))
                return false;
        } else if (startsWith(line, "icy-br:")) {
            const std::string bitrate = std::string("bitrate: ") + (line + 7);
            if (!report(generation, PN_BITRATE, reinterpret_cast<intptr_t>(bitrate.c_str())))
                return false;
        }
    }
    return true;
}

DWORD openFlags()
{
    DWORD flags = BASS_STREAM_STATUS | BASS_STREAM_AUTOFREE | BASS_STREAM_PRESCAN;
    if (useBlocks.load())
        flags |= BASS_STREAM_BLOCK;
    return flags;
}
} // namespace

HSTREAM currentStream()
{
    return streamOf(workerSlot.load());
}

namespace {
// The body of a worker that has already become the newest.
void runWorker(uint32_t generation, HSTREAM previous, const std::string& url)
{
    workerGeneration = generation;
    BASS_StreamFree(previous);

    if (!report(generation, PN_CONNECTING, 0))
        return;
    const HSTREAM stream = BASS_StreamCreateURL(url.c_str(), 0, openFlags(), DownloadStatusProc, nullptr);
    const int openError = BASS_ErrorGetCode();
    if (!publish(generation, stream)) {
        BASS_StreamFree(stream);
        return;
    }
    if (stream == 0) {
        report(generation, PN_OPEN_FAILED, openError);
        return;
    }
    if (bufferStream(generation, stream) == Buffering::Overtaken || !reportHeaderLines(generation, stream) ||
        !isNewest(generation)) {
        BASS_StreamFree(stream);
        return;
    }
    BASS_ChannelPlay(stream, 0);
    // A newer worker may have taken over while the play call ran: its first step freed
    // this stream already, so it does not go on playing.
    report(generation, PN_PLAYING, 0);
}
} // namespace

void StreamWorker(std::string url)
{
    HSTREAM previous = 0;
    const uint32_t generation = takeOver(previous);
    runWorker(generation, previous, url);
}

void startStreamWorker(std::string url)
{
    // The new worker is the newest before this returns, so a worker whose status call
    // started it (a "404" moving on) is overtaken by the time that call returns.
    HSTREAM previous = 0;
    const uint32_t generation = takeOver(previous);
    workerLauncher([generation, previous, url = std::move(url)] { runWorker(generation, previous, url); });
}

void setWorkerLauncher(std::function<void(std::function<void()>)> launcher)
{
    workerLauncher = launcher ? std::move(launcher) : launchDetached;
}

void retireStreamWorkers()
{
    HSTREAM previous = 0;
    takeOver(previous);
    BASS_StreamFree(previous);
}

void DownloadStatusProc(const void* buffer, DWORD length, void* /*user*/)
{
    if (buffer == nullptr || length != 0)
        return;
    if (workerGeneration != 0 && !isNewest(workerGeneration))
        return;
    sendPlayerNotify(PN_HTTP_STATUS, reinterpret_cast<intptr_t>(buffer));
}

} // namespace vornel::playback
