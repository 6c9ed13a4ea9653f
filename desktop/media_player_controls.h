#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

namespace vornel::desktop {

enum class PlaybackStatus { Stopped, Playing, Paused };

// The track a media-player client shows.
struct NowPlaying {
    bool present = false; // false: nothing to show
    uint64_t id = 0;      // unique for each track started in this session
    QString title;
    QStringList artists; // none when not known
    QString url;
    int64_t lengthUs = -1; // -1 while the length is not known
};

// What the media-player service reads from the program and what it runs in it; app/ fills
// it in. Every function runs on the GUI thread; a missing one reads as "no" (or full volume)
// or does nothing.
struct MediaPlayerControls {
    std::function<PlaybackStatus()> status;
    std::function<NowPlaying()> nowPlaying;
    std::function<int64_t()> positionUs;
    std::function<bool()> canPlay;
    std::function<bool()> canSeek;
    std::function<bool()> canGoNext;
    std::function<bool()> canGoPrevious;
    std::function<double()> volume; // 0.0 to 1.0

    std::function<void()> raise;
    std::function<void()> quit;
    std::function<void()> playPause;
    std::function<void()> play;
    std::function<void()> pause;
    std::function<void()> stop;
    std::function<void()> next;
    std::function<void()> previous;
    std::function<void(int64_t positionUs)> seekTo;
    std::function<void(double volume)> setVolume; // 0.0 to 1.0
};

} // namespace vornel::desktop
