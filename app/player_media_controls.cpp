// The window as the desktop sees it from outside: a media player (MPRIS2) that clients read
// and drive, and the tray icon's tooltip. Both are brought up to date when the window's own
// state changes, never by looking at it on a timer.
#include "app/player.h"

#include "app/engine_events.h"
#include "app/error_report.h"
#include "app/track_titles.h"
#include "desktop/application_visibility.h"
#include "desktop/mpris_service.h"
#include "playback/stream_worker.h"

#include <QAbstractItemModel>
#include <QCheckBox>
#include <QDBusConnection>
#include <QLabel>
#include <QListWidget>
#include <QSlider>
#include <QTimer>

#include <cmath>

using vornel::desktop::MediaPlayerControls;
using vornel::desktop::MprisService;
using vornel::desktop::NowPlaying;
using vornel::desktop::PlaybackStatus;
using vornel::desktop::ShowApplication;
using vornel::playback::currentStream;

namespace {
const QString kPlayingMarker = QString(QChar(0x25BA)) + QLatin1Char(' ');
const QString kProgramName = QStringLiteral("VornelPlayer");

// A byte count of the stream in microseconds; -1 when either is not known.
int64_t bytesToUs(HSTREAM stream, QWORD bytes)
{
    const QWORD perSecond = BASS_ChannelSeconds2Bytes(stream, 1.0);
    if (bytes == static_cast<QWORD>(-1) || perSecond == static_cast<QWORD>(-1) || perSecond == 0)
        return -1;
    return static_cast<int64_t>(static_cast<long double>(bytes) * 1000000.0L / perSecond);
}
} // namespace

// Without a session bus the player runs as it would without the media-player service; the
// tooltip follows the track either way.
void TfrmVornelPlayer::publishMediaPlayer()
{
    watchMediaState();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        auto service = std::make_unique<MprisService>(mediaPlayerControls());
        if (service->publish(bus))
            mediaPlayerService = std::move(service);
    }
    showMediaState();
}

// The sources of change that need no call of their own: the playlist (entries, selection,
// markers), the seek bar's range (a track's length becoming known) and the engine's reports.
// Handlers that change the playback state call mediaStateChanged() themselves.
void TfrmVornelPlayer::watchMediaState()
{
    if (mediaStateTimer_)
        return;
    mediaStateTimer_ = new QTimer(this);
    mediaStateTimer_->setSingleShot(true);
    mediaStateTimer_->setInterval(0);
    connect(mediaStateTimer_, &QTimer::timeout, this, [this] { showMediaState(); });

    const auto changed = [this] { mediaStateChanged(); };
    QAbstractItemModel* entries = lb_PlayList->model();
    connect(entries, &QAbstractItemModel::rowsInserted, this, changed);
    connect(entries, &QAbstractItemModel::rowsRemoved, this, changed);
    connect(entries, &QAbstractItemModel::modelReset, this, changed);
    connect(entries, &QAbstractItemModel::dataChanged, this, changed);
    connect(lb_PlayList, &QListWidget::currentRowChanged, this, changed);
    connect(sTrackBar1, &QSlider::rangeChanged, this, changed);

    engineEvents = std::make_unique<vornel::app::EngineEvents>();
    connect(engineEvents.get(), &vornel::app::EngineEvents::streamTagsChanged, this, [this](HSTREAM stream) {
        if (stream == currentStream())
            mediaStateChanged();
    });
    connect(engineEvents.get(), &vornel::app::EngineEvents::volumeChanged, this, changed);
}

void TfrmVornelPlayer::mediaStateChanged()
{
    if (mediaStateTimer_ && !mediaStateTimer_->isActive())
        mediaStateTimer_->start();
}

void TfrmVornelPlayer::mediaPositionJumped()
{
    if (mediaPlayerService)
        mediaPlayerService->seeked();
}

void TfrmVornelPlayer::showMediaState()
{
    if (mediaStateTimer_)
        mediaStateTimer_->stop();
    const NowPlaying track = nowPlaying();
    QString toolTip = kProgramName;
    if (track.present)
        toolTip += QLatin1Char('\n') + vornel::app::oneLine({track.artists.value(0), track.title});
    if (JvTrayIcon1)
        JvTrayIcon1->setToolTip(toolTip);
    if (mediaPlayerService)
        mediaPlayerService->refresh();
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
    controls.canPlay = [this] { return lb_PlayList->count() > 0; };
    controls.canSeek = [this] { return playbackStatus() != PlaybackStatus::Stopped && !playing_.blocks; };
    controls.canGoNext = [this] {
        return lb_PlayList->count() > 0 && lb_PlayList->currentRow() + 1 <= lb_PlayList->count() - 1;
    };
    controls.canGoPrevious = [this] { return lb_PlayList->count() > 0 && lb_PlayList->currentRow() - 1 >= 0; };
    // The engine keeps a float: 0.3 reads back as 0.3, not 0.30000001192092896.
    controls.volume = [] {
        const float volume = BASS_GetOutputVolume();
        return volume < 0 ? 1.0 : std::round(static_cast<double>(volume) * 1e6) / 1e6;
    };
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
    controls.setVolume = [](double volume) { BASS_SetOutputVolume(static_cast<float>(volume)); };
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

// Each stream that starts playing gets an id of its own, also the same entry played again;
// a stream that reports twice (its name, then its start) keeps its id.
void TfrmVornelPlayer::rememberPlayingEntry()
{
    const QListWidgetItem* entry = lb_PlayList->currentItem();
    const HSTREAM stream = currentStream();
    if (stream == 0 || stream != playing_.stream)
        playing_.id = ++tracksStarted_;
    playing_.stream = stream;
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
    const HSTREAM stream = currentStream();
    const QString entryText =
        playing_.text.startsWith(kPlayingMarker) ? playing_.text.mid(kPlayingMarker.size()) : playing_.text;
    const vornel::app::TrackTitle title = vornel::app::trackTitle(
        entryText, BASS_ChannelGetTags(stream, BASS_TAG_ICY_TITLE), BASS_ChannelGetTags(stream, BASS_TAG_ID3V2_TEXT));
    track.present = true;
    track.id = playing_.id;
    track.title = title.title;
    if (!title.artist.isEmpty())
        track.artists = QStringList{title.artist};
    track.url = QString::fromStdString(playing_.url);
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
    mediaStateChanged();
}
