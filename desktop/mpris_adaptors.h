#pragma once
// The interfaces of MprisService as Qt D-Bus adaptors: what the bus sees.
#include "desktop/mpris_service.h"

#include <QDBusAbstractAdaptor>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QStringList>

namespace vornel::desktop {

class MprisRootAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ canQuit)
    Q_PROPERTY(bool CanRaise READ canRaise)
    Q_PROPERTY(bool HasTrackList READ hasTrackList)
    Q_PROPERTY(QString Identity READ identity)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ none)
    Q_PROPERTY(QStringList SupportedMimeTypes READ none)

public:
    explicit MprisRootAdaptor(MprisService* service) : QDBusAbstractAdaptor(service), service_(service) {}

    bool canQuit() const { return true; }
    bool canRaise() const { return true; }
    bool hasTrackList() const { return false; }
    QString identity() const { return QStringLiteral("VornelPlayer"); }
    QString desktopEntry() const { return QStringLiteral("vornelplayer"); }
    QStringList none() const { return {}; }

public slots:
    void Raise() { service_->later(service_->controls().raise); }
    void Quit() { service_->later(service_->controls().quit); }

private:
    MprisService* service_;
};

class MprisPlayerAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(double Rate READ one WRITE setRate)
    Q_PROPERTY(double MinimumRate READ one)
    Q_PROPERTY(double MaximumRate READ one)
    Q_PROPERTY(double Volume READ volume WRITE setVolume)
    Q_PROPERTY(bool CanGoNext READ canGoNext)
    Q_PROPERTY(bool CanGoPrevious READ canGoPrevious)
    Q_PROPERTY(bool CanPlay READ canPlay)
    Q_PROPERTY(bool CanPause READ canPlay)
    Q_PROPERTY(bool CanSeek READ canSeek)
    Q_PROPERTY(bool CanControl READ yes)

public:
    explicit MprisPlayerAdaptor(MprisService* service) : QDBusAbstractAdaptor(service), service_(service)
    {
        connect(service, &MprisService::Seeked, this, &MprisPlayerAdaptor::Seeked);
    }

    QString playbackStatus() const { return service_->statusText(); }
    QVariantMap metadata() const { return service_->metadata(); }
    qlonglong position() const { return service_->position(); }
    double one() const { return 1.0; }
    void setRate(double rate) { service_->setRate(rate); }
    double volume() const { return service_->volume(); }
    void setVolume(double volume) { service_->setVolume(volume); }
    bool canGoNext() const { return service_->can(service_->controls().canGoNext); }
    bool canGoPrevious() const { return service_->can(service_->controls().canGoPrevious); }
    bool canPlay() const { return service_->canPlay(); }
    bool canSeek() const { return service_->can(service_->controls().canSeek); }
    bool yes() const { return true; }

public slots:
    void Next() { service_->later(service_->controls().next); }
    void Previous() { service_->later(service_->controls().previous); }
    void Pause() { service_->later(service_->controls().pause); }
    void PlayPause() { service_->later(service_->controls().playPause); }
    void Stop() { service_->later(service_->controls().stop); }
    void Play() { service_->later(service_->controls().play); }
    void Seek(qlonglong offset) { service_->seekBy(offset); }
    void SetPosition(const QDBusObjectPath& trackId, qlonglong position)
    {
        service_->setPosition(trackId.path(), position);
    }
    void OpenUri(const QString&) {}

signals:
    void Seeked(qlonglong Position);

private:
    MprisService* service_;
};

// org.freedesktop.DBus.Properties over the two interfaces above, in place of Qt's own: a
// value of the wrong type is refused with InvalidArgs, where Qt would answer InternalError.
// Qt adds this interface to the introspection data itself, so this adaptor adds none.
class MprisPropertiesAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.DBus.Properties")
    Q_CLASSINFO("D-Bus Introspection", "")

public:
    explicit MprisPropertiesAdaptor(MprisService* service) : QDBusAbstractAdaptor(service), service_(service) {}

public slots:
    // Each call comes with its message, so that it can be answered with an error instead.
    QDBusVariant Get(const QString& interface, const QString& name, const QDBusMessage& call);
    QVariantMap GetAll(const QString& interface, const QDBusMessage& call);
    void Set(const QString& interface, const QString& name, const QDBusVariant& value, const QDBusMessage& call);

private:
    void refuse(const QDBusMessage& call, QDBusError::ErrorType error, const QString& text);
    // The adaptor of the named interface, or null after an error reply.
    QDBusAbstractAdaptor* adaptorFor(const QString& interface, const QDBusMessage& call);
    // The adaptor's property of that name, or an invalid one after an error reply.
    QMetaProperty propertyOf(QDBusAbstractAdaptor* adaptor, const QString& interface, const QString& name,
                             const QDBusMessage& call);

    MprisService* service_;
};

} // namespace vornel::desktop
