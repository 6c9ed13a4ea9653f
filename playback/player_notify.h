#pragma once
// The reports that stream workers and the download callback send to the window, and the
// function through which they are sent. The window installs that function; it must not
// return before the window has reacted, and a text it receives is valid only until then.
#include <cstdint>
#include <functional>

namespace vornel::playback {

constexpr uint32_t WM_PLAYER_NOTIFY = 1125; // WM_USER + 101

enum PlayerNotification : uint32_t {
    PN_CONNECTING = 0,
    PN_OPEN_FAILED = 1,
    PN_BUFFERING = 2,
    PN_PLAYING = 3,
    PN_BITRATE = 4,
    PN_HTTP_STATUS = 8,
};

// code, then an integer or the address of a zero-terminated text (by code).
using NotifyFunction = std::function<void(uint32_t code, intptr_t value)>;

// Installs the target of every report; an empty function drops reports. Thread-safe.
void setNotifyWindow(NotifyFunction notify);
// Sends one report to the installed target and returns once it has reacted.
void sendPlayerNotify(uint32_t code, intptr_t value);

} // namespace vornel::playback
