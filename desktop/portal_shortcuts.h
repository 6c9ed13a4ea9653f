#pragma once

#include "desktop/global_shortcuts.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QTimer>
#include <QVariantMap>

#include <map>

namespace vornel::desktop {

// Global shortcuts through the desktop portal (org.freedesktop.portal.GlobalShortcuts):
// one session holding every registered combination, bound in one request shortly after
// the last registration. The desktop may ask its user to confirm or change the triggers;
// a refusal leaves the combinations without effect, silently. Every call is asynchronous,
// so the GUI thread never waits for the portal.
class PortalShortcuts : public GlobalShortcuts {
    Q_OBJECT

public:
    explicit PortalShortcuts(const QDBusConnection& bus, QObject* parent = nullptr);
    ~PortalShortcuts() override;

    // Whether the portal on this bus offers the interface (a bounded wait).
    static bool offeredOn(const QDBusConnection& bus);

    int32_t registerShortcut(const ShortcutRequest& request) override;
    void unregisterShortcut(int32_t id) override;

    // Whether the desktop accepted the last bind request.
    bool isBound() const { return bound_; }

signals:
    void bindingFinished(bool accepted);

private slots:
    void sessionCreated(uint response, const QVariantMap& results);
    void shortcutsBound(uint response, const QVariantMap& results);
    void activated(const QDBusMessage& signal);

private:
    void bindSoon();
    void bindAll();
    void createSession();
    void sendBind();
    void closeSession();
    // Subscribes `slot` to the Response of the request named by the token, before the call
    // that makes it, so that a quick answer cannot be missed.
    QString expectResponse(const QString& token, const char* slot);
    void forgetResponse(const QString& requestPath, const char* slot);
    QString nextToken();

    QDBusConnection bus_;
    std::map<int32_t, ShortcutRequest> shortcuts_;
    int32_t nextId_ = 1;
    int tokenCounter_ = 0;
    QTimer bindTimer_;
    QString session_;
    QString pendingRequest_;
    bool creatingSession_ = false;
    bool bound_ = false;
};

} // namespace vornel::desktop
