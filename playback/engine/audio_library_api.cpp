// The contract functions: argument checks, the calling thread's last error, and the
// hand-over to the engine and its streams.
#include "playback/audio_library.h"
#include "playback/engine/engine.h"
#include "playback/engine/stream_tags_listener.h"

using vornel::audio::Engine;

namespace {

thread_local int lastError = BASS_OK;

BOOL succeed()
{
    lastError = BASS_OK;
    return 1;
}

BOOL result(int error)
{
    lastError = error;
    return error == BASS_OK ? 1 : 0;
}

QWORD failQword(int error)
{
    lastError = error;
    return static_cast<QWORD>(-1);
}

QWORD qword(int64_t value, int errorWhenNegative)
{
    if (value < 0)
        return failQword(errorWhenNegative);
    lastError = BASS_OK;
    return static_cast<QWORD>(value);
}

} // namespace

DWORD BASS_GetVersion()
{
    return 0x02040000u | 0x0100u;
}

BOOL BASS_Init(int device, DWORD freq, DWORD /*flags*/, void* /*window*/, const void* /*clsid*/)
{
    if (device < -1 || freq == 0)
        return result(BASS_ERROR_ILLPARAM);
    return result(Engine::instance().init());
}

BOOL BASS_Free()
{
    return result(Engine::instance().free());
}

int BASS_ErrorGetCode()
{
    return lastError;
}

BOOL BASS_SetConfig(DWORD option, DWORD value)
{
    switch (option) {
    case BASS_CONFIG_NET_PLAYLIST: Engine::instance().setPlaylistFollowing(value != 0); return succeed();
    case BASS_CONFIG_NET_PREBUF:
        if (value > 100)
            return result(BASS_ERROR_ILLPARAM);
        Engine::instance().setPrebuffer(value);
        return succeed();
    default: return result(BASS_ERROR_ILLPARAM);
    }
}

BOOL BASS_SetConfigPtr(DWORD option, const void* /*value*/)
{
    // Streams always connect directly; a proxy setting is accepted and has no effect.
    if (option == BASS_CONFIG_NET_PROXY)
        return succeed();
    return result(BASS_ERROR_ILLPARAM);
}

HSTREAM BASS_StreamCreateURL(const char* url, DWORD offset, DWORD flags, DOWNLOADPROC proc, void* user)
{
    if (!url || !*url)
        return result(BASS_ERROR_ILLPARAM), 0;
    if (offset != 0)
        return result(BASS_ERROR_NOTAVAIL), 0;
    int error = BASS_OK;
    const HSTREAM handle = Engine::instance().createUrlStream(url, flags, proc, user, error);
    lastError = error;
    return handle;
}

BOOL BASS_StreamFree(HSTREAM handle)
{
    return result(Engine::instance().freeStream(handle));
}

QWORD BASS_StreamGetFilePosition(HSTREAM handle, DWORD mode)
{
    const auto stream = Engine::instance().find(handle);
    if (!stream)
        return failQword(BASS_ERROR_HANDLE);
    int error = BASS_OK;
    const int64_t value = stream->filePosition(mode, error);
    if (error != BASS_OK)
        return failQword(error);
    return qword(value, BASS_ERROR_UNKNOWN);
}

const char* BASS_ChannelGetTags(DWORD handle, DWORD tags)
{
    const auto stream = Engine::instance().find(handle);
    if (!stream)
        return result(BASS_ERROR_HANDLE), nullptr;
    const char* lines = Engine::instance().keepTags(stream->tags(tags));
    lastError = lines ? BASS_OK : BASS_ERROR_NOTAVAIL;
    return lines;
}

BOOL BASS_ChannelPlay(DWORD handle, BOOL restart)
{
    return result(Engine::instance().play(handle, restart != 0));
}

BOOL BASS_ChannelPause(DWORD handle)
{
    return result(Engine::instance().pause(handle));
}

DWORD BASS_ChannelIsActive(DWORD handle)
{
    const auto state = Engine::instance().state(handle);
    if (!state) {
        lastError = BASS_ERROR_HANDLE;
        return BASS_ACTIVE_STOPPED;
    }
    lastError = BASS_OK;
    return *state;
}

QWORD BASS_ChannelGetLength(DWORD handle, DWORD mode)
{
    const auto stream = Engine::instance().find(handle);
    if (!stream)
        return failQword(BASS_ERROR_HANDLE);
    if (mode != BASS_POS_BYTE)
        return failQword(BASS_ERROR_NOTAVAIL);
    return qword(stream->length(), BASS_ERROR_NOTAVAIL);
}

QWORD BASS_ChannelGetPosition(DWORD handle, DWORD mode)
{
    const auto stream = Engine::instance().find(handle);
    if (!stream)
        return failQword(BASS_ERROR_HANDLE);
    if (mode != BASS_POS_BYTE)
        return failQword(BASS_ERROR_NOTAVAIL);
    return qword(stream->position(), BASS_ERROR_NOTAVAIL);
}

QWORD BASS_ChannelSeconds2Bytes(DWORD handle, double seconds)
{
    const auto stream = Engine::instance().find(handle);
    if (!stream)
        return failQword(BASS_ERROR_HANDLE);
    return qword(stream->bytesFor(seconds), BASS_ERROR_ILLPARAM);
}

BOOL BASS_ChannelSetPosition(DWORD handle, QWORD position, DWORD mode)
{
    if (!Engine::instance().find(handle))
        return result(BASS_ERROR_HANDLE);
    if (mode != BASS_POS_BYTE)
        return result(BASS_ERROR_NOTAVAIL);
    if (position > static_cast<QWORD>(INT64_MAX))
        return result(BASS_ERROR_POSITION);
    return result(Engine::instance().setPosition(handle, static_cast<int64_t>(position)));
}

BOOL BASS_SetOutputVolume(float volume)
{
    if (!(volume >= 0.0f && volume <= 1.0f))
        return result(BASS_ERROR_ILLPARAM);
    Engine::instance().setVolume(volume);
    return succeed();
}

float BASS_GetOutputVolume()
{
    if (!Engine::instance().initialised()) {
        lastError = BASS_ERROR_INIT;
        return -1.0f;
    }
    lastError = BASS_OK;
    return Engine::instance().volume();
}

BOOL BASS_SetOutputVolumeProc(VOLUMEPROC proc, void* user)
{
    Engine::instance().setVolumeListener(proc, user);
    return succeed();
}

BOOL BASS_SetStreamTagsProc(STREAMTAGSPROC proc, void* user)
{
    vornel::audio::setStreamTagsListener(proc, user);
    return succeed();
}
