#include "playback/engine/stream_tags_listener.h"

#include <mutex>

namespace vornel::audio {
namespace {

// The listener is called under this lock, so that replacing it waits for a call in flight;
// the contract asks the listener to return quickly and not to call back.
std::mutex listenerMutex;
STREAMTAGSPROC listenerProc = nullptr; // guarded by listenerMutex
void* listenerUser = nullptr;          // guarded by listenerMutex

} // namespace

void setStreamTagsListener(STREAMTAGSPROC proc, void* user)
{
    std::lock_guard lock(listenerMutex);
    listenerProc = proc;
    listenerUser = user;
}

void streamTagsChanged(HSTREAM handle, DWORD tags)
{
    std::lock_guard lock(listenerMutex);
    if (listenerProc)
        listenerProc(handle, tags, listenerUser);
}

} // namespace vornel::audio
