#include "desktop/mpris_service.h"

#include "desktop/mpris_adaptors.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>

#include <algorithm>
#include <cmath>

namespace vornel::desktop {

namespace {

const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kNoTrack = QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack");

QString trackIdOf(const NowPlaying& track)
{
    if (!track.present)
        return kNoTrack;
    return QStringLiteral("/org/vornelplayer/track/%1").arg(track.id);
}

} // namespace

MprisService::MprisService(MediaPlayerControls controls, QObject* parent)
    : QObject(parent), controls_(std::move(controls)), bus_(QString())
{
    new MprisRootAdaptor(this);
    new MprisPlayerAdaptor(this);
    new MprisPropertiesAdaptor(this);
    refreshSoon_.setSingleShot(true);
    refreshSoon_.setInterval(0);
    connect(&refreshSoon_, &QTimer::timeout, this, &MprisService::refresh);
}

MprisService::~MprisService()
{
    if (serviceName_.isEmpty())
        return;
    bus_.unregisterObject(QString::fromLatin1(kObjectPath));
    bus_.unregisterService(serviceName_);
}

bool MprisService::publish(const QDBusConnection& bus)
{
    if (!bus.isConnected() || !serviceName_.isEmpty())
        return false;
    bus_ = bus;
    if (!bus_.registerObject(QString::fromLatin1(kObjectPath), this, QDBusConnection::ExportAdaptors))
        return false;
    // A second running copy takes a name of its own, as MPRIS2 provides (the program itself
    // lets only one copy run per session bus).
    QString name = QString::fromLatin1(kServiceName);
    if (!bus_.registerService(name)) {
        name += QStringLiteral(".instance%1").arg(QCoreApplication::applicationPid());
        if (!bus_.registerService(name)) {
            bus_.unregisterObject(QString::fromLatin1(kObjectPath));
            return false;
        }
    }
    serviceName_ = name;
    announced_ = current();
    return true;
}

void MprisService::changed()
{
    if (!serviceName_.isEmpty() && !refreshSoon_.isActive())
        refreshSoon_.start();
}

void MprisService::seeked()
{
    seekedPending_ = true;
    changed();
}

QString MprisService::statusText() const
{
    switch (controls_.status ? controls_.status() : PlaybackStatus::Stopped) {
    case PlaybackStatus::Playing: return QStringLiteral("Playing");
    case PlaybackStatus::Paused: return QStringLiteral("Paused");
    case PlaybackStatus::Stopped: break;
    }
    return QStringLiteral("Stopped");
}

QVariantMap MprisService::metadata() const
{
    const NowPlaying track = controls_.nowPlaying ? controls_.nowPlaying() : NowPlaying();
    QVariantMap map{{QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(trackIdOf(track)))}};
    if (!track.present)
        return map;
    map.insert(QStringLiteral("xesam:title"), track.title);
    if (!track.artists.isEmpty())
        map.insert(QStringLiteral("xesam:artist"), track.artists);
    if (!track.url.isEmpty())
        map.insert(QStringLiteral("xesam:url"), track.url);
    if (track.lengthUs >= 0)
        map.insert(QStringLiteral("mpris:length"), static_cast<qlonglong>(track.lengthUs));
    return map;
}

qlonglong MprisService::position() const
{
    return controls_.positionUs ? static_cast<qlonglong>(std::max<int64_t>(0, controls_.positionUs())) : 0;
}

double MprisService::volume() const
{
    const double volume = controls_.volume ? controls_.volume() : 1.0;
    return std::isnan(volume) ? 1.0 : std::clamp(volume, 0.0, 1.0);
}

void MprisService::later(std::function<void()> action)
{
    QTimer::singleShot(0, this, [this, action = std::move(action)] {
        if (action)
            action();
        refresh();
    });
}

void MprisService::seekBy(qlonglong offsetUs)
{
    later([this, offsetUs] {
        if (!can(controls_.canSeek) || !controls_.seekTo)
            return;
        const NowPlaying track = controls_.nowPlaying ? controls_.nowPlaying() : NowPlaying();
        const qlonglong target = std::max<qlonglong>(0, position() + offsetUs);
        // Past the end of the track: on to the next one, as MPRIS2 asks.
        if (track.lengthUs >= 0 && target > track.lengthUs) {
            if (controls_.next)
                controls_.next();
            return;
        }
        controls_.seekTo(target);
        seekedPending_ = true;
    });
}

void MprisService::setPosition(const QString& trackId, qlonglong positionUs)
{
    later([this, trackId, positionUs] {
        const NowPlaying track = controls_.nowPlaying ? controls_.nowPlaying() : NowPlaying();
        if (!can(controls_.canSeek) || !controls_.seekTo || trackId != trackIdOf(track) || positionUs < 0 ||
            (track.lengthUs >= 0 && positionUs > track.lengthUs))
            return;
        controls_.seekTo(positionUs);
        seekedPending_ = true;
    });
}

// The rate is fixed at 1.0; MPRIS2 has a rate of 0.0 act as Pause.
void MprisService::setRate(double rate)
{
    if (rate == 0.0)
        later(controls_.pause);
}

// Below silence is silence; the program does not amplify beyond the sound as decoded.
void MprisService::setVolume(double volume)
{
    const double clamped = std::clamp(volume, 0.0, 1.0);
    later([this, clamped] {
        if (controls_.setVolume)
            controls_.setVolume(clamped);
    });
}

MprisService::Announced MprisService::current() const
{
    Announced now;
    now.status = statusText();
    now.metadata = metadata();
    now.canPlay = canPlay();
    now.canSeek = can(controls_.canSeek);
    now.canGoNext = can(controls_.canGoNext);
    now.canGoPrevious = can(controls_.canGoPrevious);
    now.volume = volume();
    return now;
}

void MprisService::refresh()
{
    refreshSoon_.stop();
    if (serviceName_.isEmpty())
        return;
    const Announced now = current();
    QVariantMap changed;
    if (now.status != announced_.status)
        changed.insert(QStringLiteral("PlaybackStatus"), now.status);
    if (now.metadata != announced_.metadata)
        changed.insert(QStringLiteral("Metadata"), now.metadata);
    if (now.canPlay != announced_.canPlay) {
        changed.insert(QStringLiteral("CanPlay"), now.canPlay);
        changed.insert(QStringLiteral("CanPause"), now.canPlay);
    }
    if (now.canSeek != announced_.canSeek)
        changed.insert(QStringLiteral("CanSeek"), now.canSeek);
    if (now.canGoNext != announced_.canGoNext)
        changed.insert(QStringLiteral("CanGoNext"), now.canGoNext);
    if (now.canGoPrevious != announced_.canGoPrevious)
        changed.insert(QStringLiteral("CanGoPrevious"), now.canGoPrevious);
    if (now.volume != announced_.volume)
        changed.insert(QStringLiteral("Volume"), now.volume);
    const bool seeked = seekedPending_;
    seekedPending_ = false;
    announced_ = now;
    if (!changed.isEmpty())
        announce(kPlayerInterface, changed);
    if (seeked)
        emit Seeked(position());
}

void MprisService::announce(const QString& interface, const QVariantMap& changed)
{
    QDBusMessage signal =
        QDBusMessage::createSignal(QString::fromLatin1(kObjectPath), QStringLiteral("org.freedesktop.DBus.Properties"),
                                   QStringLiteral("PropertiesChanged"));
    signal << interface << changed << QStringList();
    bus_.send(signal);
}

} // namespace vornel::desktop
