#pragma once
// Carries what the audio engine reports on its own threads (a stream's tags changed, the
// desktop's mixer changed the volume) to the window thread, as Qt signals. While one of
// these exists it holds the engine's tags and volume procs; its destructor lets them go.
#include "playback/audio_library.h"

#include <QObject>

namespace vornel::app {

class EngineEvents : public QObject {
    Q_OBJECT

public:
    EngineEvents();
    ~EngineEvents() override;
    EngineEvents(const EngineEvents&) = delete;
    EngineEvents& operator=(const EngineEvents&) = delete;

    // The procs, as the engine calls them; public so that tests can call them from a thread.
    static void onStreamTags(HSTREAM handle, DWORD tags, void* self);
    static void onVolume(float volume, void* self);

signals:
    void streamTagsChanged(HSTREAM handle);
    void volumeChanged();
};

} // namespace vornel::app
