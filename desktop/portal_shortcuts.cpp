#include "desktop/portal_shortcuts.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace {

const QString kPortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kShortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");
constexpr int kAvailabilityWaitMs = 2000;

// One entry of BindShortcuts' a(sa{sv}) list.
struct PortalShortcut {
    QString name;
    QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut)
{
    argument.beginStructure();
    argument << shortcut.name << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut)
{
    argument.beginStructure();
    argument >> shortcut.name >> shortcut.properties;
    argument.endStructure();
    return argument;
}

} // namespace

Q_DECLARE_METATYPE(PortalShortcut)

namespace vornel::desktop {

namespace {

void registerPortalTypes()
{
    static const bool registered = [] {
        qDBusRegisterMetaType<PortalShortcut>();
        qDBusRegisterMetaType<QList<PortalShortcut>>();
        return true;
    }();
    (void)registered;
}

// The portal names the session in an object path, given as a string or as a path.
QString sessionHandle(const QVariant& value)
{
    if (value.userType() == qMetaTypeId<QDBusObjectPath>())
        return value.value<QDBusObjectPath>().path();
    return value.toString();
}

} // namespace

PortalShortcuts::PortalShortcuts(const QDBusConnection& bus, QObject* parent) : GlobalShortcuts(parent), bus_(bus)
{
    registerPortalTypes();
    bindTimer_.setSingleShot(true);
    bindTimer_.setInterval(0);
    connect(&bindTimer_, &QTimer::timeout, this, &PortalShortcuts::bindAll);
    bus_.connect(kPortalService, kPortalPath, kShortcutsInterface, QStringLiteral("Activated"), this,
                 SLOT(activated(QDBusMessage)));
}

PortalShortcuts::~PortalShortcuts()
{
    closeSession();
}

bool PortalShortcuts::offeredOn(const QDBusConnection& bus)
{
    if (!bus.isConnected())
        return false;
    QDBusMessage query = QDBusMessage::createMethodCall(
        kPortalService, kPortalPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    query << kShortcutsInterface << QStringLiteral("version");
    const QDBusMessage reply = bus.call(query, QDBus::Block, kAvailabilityWaitMs);
    return reply.type() == QDBusMessage::ReplyMessage;
}

int32_t PortalShortcuts::registerShortcut(const ShortcutRequest& request)
{
    const int32_t id = nextId_++;
    shortcuts_[id] = request;
    bindSoon();
    return id;
}

void PortalShortcuts::unregisterShortcut(int32_t id)
{
    if (shortcuts_.erase(id) == 0)
        return;
    if (shortcuts_.empty())
        closeSession();
    else
        bindSoon();
}

// Registrations made one after the other go to the portal in one request.
void PortalShortcuts::bindSoon()
{
    bindTimer_.start();
}

void PortalShortcuts::bindAll()
{
    if (shortcuts_.empty() || creatingSession_)
        return;
    if (session_.isEmpty())
        createSession();
    else
        sendBind();
}

QString PortalShortcuts::nextToken()
{
    return QStringLiteral("vornelplayer%1").arg(++tokenCounter_);
}

QString PortalShortcuts::expectResponse(const QString& token, const char* slot)
{
    QString sender = bus_.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    const QString path = kPortalPath + QStringLiteral("/request/") + sender + QLatin1Char('/') + token;
    bus_.connect(kPortalService, path, kRequestInterface, QStringLiteral("Response"), this, slot);
    return path;
}

void PortalShortcuts::forgetResponse(const QString& requestPath, const char* slot)
{
    bus_.disconnect(kPortalService, requestPath, kRequestInterface, QStringLiteral("Response"), this, slot);
}

void PortalShortcuts::createSession()
{
    creatingSession_ = true;
    const QString token = nextToken();
    const char* slot = SLOT(sessionCreated(uint, QVariantMap));
    pendingRequest_ = expectResponse(token, slot);
    QDBusMessage call = QDBusMessage::createMethodCall(kPortalService, kPortalPath, kShortcutsInterface,
                                                       QStringLiteral("CreateSession"));
    call << QVariantMap{{QStringLiteral("handle_token"), token}, {QStringLiteral("session_handle_token"), nextToken()}};
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    const QString requestPath = pendingRequest_;
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, requestPath, slot](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        if (w->isError()) { // no session: the combinations stay without effect
            forgetResponse(requestPath, slot);
            creatingSession_ = false;
            emit bindingFinished(false);
        }
    });
}

void PortalShortcuts::sessionCreated(uint response, const QVariantMap& results)
{
    forgetResponse(pendingRequest_, SLOT(sessionCreated(uint, QVariantMap)));
    creatingSession_ = false;
    session_ = response == 0 ? sessionHandle(results.value(QStringLiteral("session_handle"))) : QString();
    if (session_.isEmpty()) {
        emit bindingFinished(false);
        return;
    }
    if (shortcuts_.empty())
        closeSession();
    else
        sendBind();
}

void PortalShortcuts::sendBind()
{
    QList<PortalShortcut> list;
    for (const auto& [id, request] : shortcuts_) {
        const QChar key = QChar::fromLatin1(request.key).toLower();
        list.append({request.name,
                     {{QStringLiteral("description"), request.description},
                      {QStringLiteral("preferred_trigger"), QStringLiteral("CTRL+SHIFT+") + key}}});
    }
    const QString token = nextToken();
    const char* slot = SLOT(shortcutsBound(uint, QVariantMap));
    pendingRequest_ = expectResponse(token, slot);
    QDBusMessage call = QDBusMessage::createMethodCall(kPortalService, kPortalPath, kShortcutsInterface,
                                                       QStringLiteral("BindShortcuts"));
    call << QVariant::fromValue(QDBusObjectPath(session_)) << QVariant::fromValue(list) << QString()
         << QVariantMap{{QStringLiteral("handle_token"), token}};
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    const QString requestPath = pendingRequest_;
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, requestPath, slot](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        if (w->isError()) {
            forgetResponse(requestPath, slot);
            bound_ = false;
            emit bindingFinished(false);
        }
    });
}

void PortalShortcuts::shortcutsBound(uint response, const QVariantMap& /*results*/)
{
    forgetResponse(pendingRequest_, SLOT(shortcutsBound(uint, QVariantMap)));
    bound_ = response == 0;
    emit bindingFinished(bound_);
}

// Activated(o session_handle, s shortcut_id, t timestamp, a{sv} options)
void PortalShortcuts::activated(const QDBusMessage& signal)
{
    const QList<QVariant> arguments = signal.arguments();
    if (session_.isEmpty() || arguments.size() < 2 || sessionHandle(arguments.at(0)) != session_)
        return;
    const QString name = arguments.at(1).toString();
    for (const auto& [id, request] : shortcuts_) {
        if (request.name == name) {
            if (onHotkey)
                onHotkey(id);
            return;
        }
    }
}

void PortalShortcuts::closeSession()
{
    bindTimer_.stop();
    bound_ = false;
    if (session_.isEmpty())
        return;
    const QDBusMessage close = QDBusMessage::createMethodCall(
        kPortalService, session_, QStringLiteral("org.freedesktop.portal.Session"), QStringLiteral("Close"));
    bus_.send(close);
    session_.clear();
}

} // namespace vornel::desktop
