#pragma once

#include "desktop/media_player_controls.h"

#include <QDBusConnection>
#include <QObject>
#include <QTimer>
#include <QVariantMap>

#include <functional>

namespace vornel::desktop {

// The program as an MPRIS2 media player (org.mpris.MediaPlayer2.vornelplayer on the session
// bus): desktop media keys, panel and lock-screen controls and playerctl drive it. Calls
// from the bus answer at once; the action they ask for runs afterwards from the event loop,
// so a handler that waits for the network never holds a client's call. The program says
// when its state changed (changed(), seeked()); the service then announces what differs
// with PropertiesChanged, and jumps of the position with Seeked. Nothing is polled.
class MprisService : public QObject {
    Q_OBJECT

public:
    static constexpr const char* kServiceName = "org.mpris.MediaPlayer2.vornelplayer";
    static constexpr const char* kObjectPath = "/org/mpris/MediaPlayer2";

    explicit MprisService(MediaPlayerControls controls, QObject* parent = nullptr);
    ~MprisService() override;

    // Takes the service name (or keeps it, when this process holds it already) and exports
    // the object; false when the bus is not there or refuses (the program then runs without
    // media-player controls).
    bool publish(const QDBusConnection& bus);

    // Something the clients see may have changed: announced once the event loop runs, so
    // that a burst of changes makes one announcement.
    void changed();
    // The position jumped (a seek): announced with Seeked.
    void seeked();
    // Announces now what differs from the last announcement.
    void refresh();

    // Reads and actions for the adaptors.
    const QDBusConnection& bus() const { return bus_; }
    const MediaPlayerControls& controls() const { return controls_; }
    QString statusText() const;
    QVariantMap metadata() const;
    qlonglong position() const;
    double volume() const;
    bool canPlay() const { return can(controls_.canPlay) || statusText() != QLatin1String("Stopped"); }
    bool can(const std::function<bool()>& query) const { return query && query(); }
    // Runs the action from the event loop, then announces what it changed.
    void later(std::function<void()> action);
    void seekBy(qlonglong offsetUs);
    void setPosition(const QString& trackId, qlonglong positionUs);
    void setRate(double rate);
    void setVolume(double volume);

signals:
    void Seeked(qlonglong position);

private:
    struct Announced {
        QString status;
        QVariantMap metadata;
        bool canPlay = false;
        bool canSeek = false;
        bool canGoNext = false;
        bool canGoPrevious = false;
        double volume = 1.0;
    };
    Announced current() const;
    void announce(const QString& interface, const QVariantMap& changed);

    MediaPlayerControls controls_;
    QDBusConnection bus_;
    QString serviceName_;
    QTimer refreshSoon_;
    Announced announced_;
    bool seekedPending_ = false;
};

} // namespace vornel::desktop
