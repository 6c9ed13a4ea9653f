#include "app/engine_events.h"

namespace vornel::app {

EngineEvents::EngineEvents()
{
    BASS_SetStreamTagsProc(&EngineEvents::onStreamTags, this);
    BASS_SetOutputVolumeProc(&EngineEvents::onVolume, this);
}

// Once the procs are cleared no call reaches this object; events already posted to it
// are dropped with it.
EngineEvents::~EngineEvents()
{
    BASS_SetStreamTagsProc(nullptr, nullptr);
    BASS_SetOutputVolumeProc(nullptr, nullptr);
}

// Engine threads: post, never wait for the window thread.
void EngineEvents::onStreamTags(HSTREAM handle, DWORD /*tags*/, void* self)
{
    auto* events = static_cast<EngineEvents*>(self);
    QMetaObject::invokeMethod(
        events, [events, handle] { emit events->streamTagsChanged(handle); }, Qt::QueuedConnection);
}

void EngineEvents::onVolume(float /*volume*/, void* self)
{
    auto* events = static_cast<EngineEvents*>(self);
    QMetaObject::invokeMethod(
        events, [events] { emit events->volumeChanged(); }, Qt::QueuedConnection);
}

} // namespace vornel::app
