#include "desktop/single_instance.h"

#include "desktop/mpris_service.h"

#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

namespace vornel::desktop {

namespace {

// A copy that is still starting holds the name before its object answers; it is given this
// long to answer.
constexpr int kRaiseWaitMs = 5000;
constexpr int kRaiseRetryMs = 100;
constexpr int kCallTimeoutMs = 2000;

bool holdsName(const QDBusConnection& bus)
{
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = bus.interface()->registerService(
        QString::fromLatin1(MprisService::kServiceName), QDBusConnectionInterface::DontQueueService,
        QDBusConnectionInterface::DontAllowReplacement);
    return reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered;
}

// True once the other copy answered (or cannot); false while its object is not there yet
// or the name has just been let go.
bool askToRaise(const QDBusConnection& bus)
{
    QDBusMessage raise = QDBusMessage::createMethodCall(
        QString::fromLatin1(MprisService::kServiceName), QString::fromLatin1(MprisService::kObjectPath),
        QStringLiteral("org.mpris.MediaPlayer2"), QStringLiteral("Raise"));
    const QDBusMessage reply = bus.call(raise, QDBus::BlockWithGui, kCallTimeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return true;
    const QString error = reply.errorName();
    const bool notYet = error == QDBusError::errorString(QDBusError::UnknownObject) ||
                        error == QDBusError::errorString(QDBusError::UnknownInterface) ||
                        error == QDBusError::errorString(QDBusError::UnknownMethod) ||
                        error == QDBusError::errorString(QDBusError::ServiceUnknown);
    return !notYet;
}

// Lets this thread's events run meanwhile.
void pause(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

InstanceRole claimSingleInstance(const QDBusConnection& bus)
{
    if (!bus.isConnected() || !bus.interface())
        return InstanceRole::Alone;
    // The name may change hands meanwhile: a copy that ends lets the next start take it.
    const QDeadlineTimer deadline(kRaiseWaitMs);
    do {
        if (holdsName(bus))
            return InstanceRole::First;
        if (askToRaise(bus))
            return InstanceRole::Another;
        pause(kRaiseRetryMs);
    } while (!deadline.hasExpired());
    return InstanceRole::Another;
}

} // namespace vornel::desktop
