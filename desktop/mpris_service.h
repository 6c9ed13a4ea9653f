#pragma once

#include "desktop/media_player_controls.h"

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <QVariantMap>

#include <functional>

// The program as an MPRIS2 media player (org.mpris.MediaPlayer2.vornelplayer on the session
// bus): desktop media keys, panel and lock-screen controls and playerctl drive it. Calls
// from the bus answer at once; the action they ask for runs afterwards from the event loop,
// so a handler that waits for the network never holds a client's call. Changes of the
// program's state are announced with PropertiesChanged, jumps of the position with Seeked.
class MprisService : public QObject {
    Q_OBJECT

public:
    static constexpr const char* kServiceName = "org.mpris.MediaPlayer2.vornelplayer";
    static constexpr const char* kObjectPath = "/org/mpris/MediaPlayer2";

    explicit MprisService(MediaPlayerControls controls, QObject* parent = nullptr);
    ~MprisService() override;

    // Takes the service name and exports the object; false when the bus is not there or
    // refuses (the program then runs without media-player controls).
    bool publish(const QDBusConnection& bus);

    // Compares the program's state with what was last announced and announces the changes.
    void refresh();

    // Reads and actions for the two adaptors.
    const MediaPlayerControls& controls() const { return controls_; }
    QString statusText() const;
    QVariantMap metadata() const;
    qlonglong position() const;
    bool can(const std::function<bool()>& query) const { return query && query(); }
    // Runs the action from the event loop, then announces what it changed.
    void later(std::function<void()> action);
    void seekBy(qlonglong offsetUs);
    void setPosition(const QString& trackId, qlonglong positionUs);

signals:
    void Seeked(qlonglong position);

private:
    struct Announced {
        QString status;
        QVariantMap metadata;
        bool canSeek = false;
        bool canGoNext = false;
        bool canGoPrevious = false;
        qlonglong position = 0;
    };
    Announced current() const;
    void announce(const QString& interface, const QVariantMap& changed);
    bool positionJumped(const Announced& now) const;

    MediaPlayerControls controls_;
    QDBusConnection bus_;
    QString serviceName_;
    QTimer pollTimer_;
    QElapsedTimer sinceLastLook_;
    Announced announced_;
    bool seekedPending_ = false;
};
