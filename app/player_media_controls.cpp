// The window as a desktop media player (MPRIS2): what clients read and what they run.
#include "app/player.h"

#include "app/error_report.h"
#include "desktop/application_visibility.h"
#include "desktop/mpris_service.h"
#include "playback/stream_worker.h"

#include <QCheckBox>
#include <QDBusConnection>
#include <QLabel>
#include <QListWidget>
#include <QTimer>

using vornel::playback::currentStream;

namespace {
const QString playingMarker = QString(QChar(0x25BA)) + QLatin1Char(' ');

// A byte count of the stream in microseconds; -1 when either is not known.
int64_t bytesToUs(HSTREAM stream, QWORD bytes)
{
    const QWORD perSecond = BASS_ChannelSeconds2Bytes(stream, 1.0);
    if (bytes == static_cast<QWORD>(-1) || perSecond == static_cast<QWORD>(-1) || perSecond == 0)
        return -1;
    return static_cast<int64_t>(static_cast<long double>(bytes) * 1000000.0L / perSecond);
}
} // namespace

// Without a session bus the player runs as it would without this service.
void TfrmVornelPlayer::publishMediaPlayer()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    auto service = std::make_unique<MprisService>(mediaPlayerControls());
    if (service->publish(bus))
        mediaPlayerService = std::move(service);
}

MediaPlayerControls TfrmVornelPlayer::mediaPlayerControls()
{
    using vornel::app::runGuarded;
    auto guarded = [this](void (TfrmVornelPlayer::*handler)()) {
        return [this, handler] { runGuarded([&] { (this->*handler)(); }); };
    };
    MediaPlayerControls controls;
    controls.status = [this] { return playbackStatus(); };
    controls.nowPlaying = [this] { return nowPlaying(); };
    controls.positionUs = [this] { return playbackPositionUs(); };
    controls.canSeek = [this] { return playbackStatus() != PlaybackStatus::Stopped && !playing_.blocks; };
    controls.canGoNext = [this] {
        return lb_PlayList->count() > 0 && lb_PlayList->currentRow() + 1 <= lb_PlayList->count() - 1;
    };
    controls.canGoPrevious = [this] { return lb_PlayList->count() > 0 && lb_PlayList->currentRow() - 1 >= 0; };
    controls.raise = [this] { ShowApplication(this, otherWindows()); };
    controls.quit = [this] { close(); };
    controls.playPause = guarded(&TfrmVornelPlayer::btn_TrackPauseClick);
    controls.play = [this] {
        if (playbackStatus() != PlaybackStatus::Playing)
            runGuarded([this] { btn_TrackPauseClick(); });
    };
    controls.pause = [this] {
        if (playbackStatus() == PlaybackStatus::Playing)
            BASS_ChannelPause(currentStream());
    };
    controls.stop = [this] { stopPlayback(); };
    controls.next = guarded(&TfrmVornelPlayer::btn_TrackNextClick);
    controls.previous = guarded(&TfrmVornelPlayer::btn_TrackPrevClick);
    controls.seekTo = [this](int64_t positionUs) {
        const HSTREAM stream = currentStream();
        const QWORD target = BASS_ChannelSeconds2Bytes(stream, static_cast<double>(positionUs) / 1e6);
        if (target != static_cast<QWORD>(-1))
            seekToByte(target);
    };
    return controls;
}

PlaybackStatus TfrmVornelPlayer::playbackStatus() const
{
    switch (BASS_ChannelIsActive(currentStream())) {
    case BASS_ACTIVE_STOPPED: return PlaybackStatus::Stopped;
    case BASS_ACTIVE_PLAYING:
    case BASS_ACTIVE_STALLED: return PlaybackStatus::Playing;
    default: return PlaybackStatus::Paused;
    }
}

void TfrmVornelPlayer::rememberPlayingEntry()
{
    const QListWidgetItem* entry = lb_PlayList->currentItem();
    playing_.row = lb_PlayList->currentRow();
    playing_.text = entry ? entry->text() : QString();
    playing_.url = trackUrl;
    playing_.blocks = vornel::playback::useBlocks;
}

NowPlaying TfrmVornelPlayer::nowPlaying() const
{
    NowPlaying track;
    if (playing_.row < 0 || playbackStatus() == PlaybackStatus::Stopped)
        return track;
    track.present = true;
    track.entry = playing_.row;
    track.title = playing_.text.startsWith(playingMarker) ? playing_.text.mid(playingMarker.size()) : playing_.text;
    track.url = QString::fromStdString(playing_.url);
    const HSTREAM stream = currentStream();
    track.lengthUs = bytesToUs(stream, BASS_ChannelGetLength(stream, BASS_POS_BYTE));
    return track;
}

int64_t TfrmVornelPlayer::playbackPositionUs() const
{
    const HSTREAM stream = currentStream();
    return std::max<int64_t>(0, bytesToUs(stream, BASS_ChannelGetPosition(stream, BASS_POS_BYTE)));
}

// The current stream goes, and so does any stream still being opened.
void TfrmVornelPlayer::stopPlayback()
{
    openRetryTimer_->stop();
    Timer2->stop();
    vornel::playback::retireStreamWorkers();
    playing_ = PlayingEntry();
    label_currentTrack->setText(QStringLiteral("not playing"));
}
