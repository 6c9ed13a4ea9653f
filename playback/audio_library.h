#pragma once
// The audio library contract: the functions and constants the player calls, implemented
// by the project's own engine (playback/engine/). Thread-safe; the last error is per thread.
#include <cstdint>

using DWORD = uint32_t;
using QWORD = uint64_t;
using BOOL = int;
using HSTREAM = DWORD;
using HCHANNEL = DWORD;
using DOWNLOADPROC = void (*)(const void* buffer, DWORD length, void* user);

constexpr DWORD BASSVERSION = 0x204;

// Configuration
constexpr DWORD BASS_CONFIG_NET_PREBUF = 15;
constexpr DWORD BASS_CONFIG_NET_PROXY = 17;
constexpr DWORD BASS_CONFIG_NET_PLAYLIST = 21;

// Stream flags
constexpr DWORD BASS_STREAM_PRESCAN = 0x20000;
constexpr DWORD BASS_STREAM_AUTOFREE = 0x40000;
constexpr DWORD BASS_STREAM_BLOCK = 0x100000;
constexpr DWORD BASS_STREAM_STATUS = 0x800000;

// File positions
constexpr DWORD BASS_FILEPOS_END = 2;
constexpr DWORD BASS_FILEPOS_CONNECTED = 4;
constexpr DWORD BASS_FILEPOS_BUFFER = 5;
// Our own query: 1 while a block stream's bounded buffer is full (its download waits for
// playback to make room, so the buffered share of a large file stops growing), else 0
// (always 0 for a normal stream); -1 with BASS_ERROR_HANDLE on a bad handle.
constexpr DWORD BASS_FILEPOS_BLOCKFULL = 0x10000;

// Tags
constexpr DWORD BASS_TAG_HTTP = 3;
constexpr DWORD BASS_TAG_ICY = 4;
// Our own tags: what the stream itself says it plays, as zero-terminated UTF-8 lines
// "title=<text>" and "artist=<text>" (each only when known), ended by an empty one; null
// while the stream has said nothing. BASS_TAG_ICY_TITLE holds a radio stream's last ICY
// StreamTitle as its title line (such a title often reads "Artist - Title");
// BASS_TAG_ID3V2_TEXT the title (TIT2) and artist (TPE1) of the last ID3v2 tag decoded.
constexpr DWORD BASS_TAG_ICY_TITLE = 0x10000;
constexpr DWORD BASS_TAG_ID3V2_TEXT = 0x10001;

// Positions
constexpr DWORD BASS_POS_BYTE = 0;

// Channel states
constexpr DWORD BASS_ACTIVE_STOPPED = 0;
constexpr DWORD BASS_ACTIVE_PLAYING = 1;
constexpr DWORD BASS_ACTIVE_STALLED = 2;
constexpr DWORD BASS_ACTIVE_PAUSED = 3;

// Error codes (our own numbering)
constexpr int BASS_OK = 0;
constexpr int BASS_ERROR_MEM = 1;       // out of memory
constexpr int BASS_ERROR_FILEOPEN = 2;  // the URL could not be opened (connect, name, status)
constexpr int BASS_ERROR_DRIVER = 3;    // no usable output device
constexpr int BASS_ERROR_HANDLE = 5;    // 0, unknown or freed handle
constexpr int BASS_ERROR_FORMAT = 6;    // not audio that the engine can decode
constexpr int BASS_ERROR_POSITION = 7;  // position not available
constexpr int BASS_ERROR_INIT = 8;      // BASS_Init has not succeeded
constexpr int BASS_ERROR_ALREADY = 14;  // already initialised
constexpr int BASS_ERROR_ILLPARAM = 20; // invalid parameter (an empty URL, ...)
constexpr int BASS_ERROR_NOPLAY = 24;   // the channel is not playing (pause while stopped)
constexpr int BASS_ERROR_NOTAVAIL = 37; // not available for this stream (seek in block mode)
constexpr int BASS_ERROR_TIMEOUT = 40;  // connection timed out
constexpr int BASS_ERROR_FILEFORM = 41; // unsupported file format
constexpr int BASS_ERROR_UNKNOWN = -1;

DWORD BASS_GetVersion();
BOOL BASS_Init(int device, DWORD freq, DWORD flags, void* window, const void* clsid);
BOOL BASS_Free();
int BASS_ErrorGetCode();
BOOL BASS_SetConfig(DWORD option, DWORD value);
BOOL BASS_SetConfigPtr(DWORD option, const void* value);

HSTREAM BASS_StreamCreateURL(const char* url, DWORD offset, DWORD flags, DOWNLOADPROC proc, void* user);
BOOL BASS_StreamFree(HSTREAM handle);
QWORD BASS_StreamGetFilePosition(HSTREAM handle, DWORD mode);

const char* BASS_ChannelGetTags(DWORD handle, DWORD tags);
BOOL BASS_ChannelPlay(DWORD handle, BOOL restart);
BOOL BASS_ChannelPause(DWORD handle);
DWORD BASS_ChannelIsActive(DWORD handle);
QWORD BASS_ChannelGetLength(DWORD handle, DWORD mode);
QWORD BASS_ChannelGetPosition(DWORD handle, DWORD mode);
QWORD BASS_ChannelSeconds2Bytes(DWORD handle, double seconds);
BOOL BASS_ChannelSetPosition(DWORD handle, QWORD position, DWORD mode);

// Our own: the output volume, 0.0 (silent) to 1.0 (as decoded), applied to everything
// the engine plays and kept for the engine's lifetime. Setting fails with
// BASS_ERROR_ILLPARAM outside that range (or NaN); reading gives -1 with BASS_ERROR_INIT
// before BASS_Init.
BOOL BASS_SetOutputVolume(float volume);
float BASS_GetOutputVolume();
// Our own: proc is called, on one of the engine's threads, when the volume was changed
// from outside the program (the desktop's mixer); never for BASS_SetOutputVolume's own
// change. Null stops the calls.
using VOLUMEPROC = void (*)(float volume, void* user);
BOOL BASS_SetOutputVolumeProc(VOLUMEPROC proc, void* user);

// Our own: proc is called, on one of the engine's threads, each time a stream's
// BASS_TAG_ICY_TITLE or BASS_TAG_ID3V2_TEXT changes (tags names which), also while the stream
// is being opened. It must return quickly and must not call BASS_SetStreamTagsProc. Null
// stops the calls; once this returns, no call of the previous proc is still running.
using STREAMTAGSPROC = void (*)(HSTREAM handle, DWORD tags, void* user);
BOOL BASS_SetStreamTagsProc(STREAMTAGSPROC proc, void* user);
