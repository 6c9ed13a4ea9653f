// A desktop's side of the global-shortcuts portal, for tests: the real xdg-desktop-portal
// frontend forwards to it. It accepts every session and every bind, prints each bound
// shortcut as "bound <id> <preferred trigger> <description>" (also into the file named by
// its argument, when given), and presses a shortcut when asked through
// org.vornel.PortalTest.Press(id).
#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDateTime>
#include <QFile>
#include <QTextStream>

#include <cstdio>

struct BoundShortcut {
    QString id;
    QVariantMap properties;
};
Q_DECLARE_METATYPE(BoundShortcut)
using BoundShortcuts = QList<BoundShortcut>;

QDBusArgument& operator<<(QDBusArgument& argument, const BoundShortcut& shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, BoundShortcut& shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

class ShortcutsBackend : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.impl.portal.GlobalShortcuts")
    Q_PROPERTY(uint version READ version)

public:
    explicit ShortcutsBackend(QObject* parent) : QDBusAbstractAdaptor(parent) {}
    uint version() const { return 1; }
    QString session;
    QString recordPath;

public slots:
    uint CreateSession(const QDBusObjectPath&, const QDBusObjectPath& sessionHandle, const QString&, const QVariantMap&,
                       QVariantMap& results)
    {
        session = sessionHandle.path();
        results.insert(QStringLiteral("session_handle"), session);
        return 0;
    }

    uint BindShortcuts(const QDBusObjectPath&, const QDBusObjectPath&, const QList<BoundShortcut>& shortcuts,
                       const QString&, const QVariantMap&, QVariantMap& results)
    {
        BoundShortcuts answered;
        QString lines;
        for (const BoundShortcut& shortcut : shortcuts) {
            const QString trigger = shortcut.properties.value(QStringLiteral("preferred_trigger")).toString();
            const QString description = shortcut.properties.value(QStringLiteral("description")).toString();
            lines += QStringLiteral("bound %1 %2 %3\n").arg(shortcut.id, trigger, description);
            answered.append(
                {shortcut.id,
                 {{QStringLiteral("description"), description}, {QStringLiteral("trigger_description"), trigger}}});
        }
        results.insert(QStringLiteral("shortcuts"), QVariant::fromValue(answered));
        QTextStream(stdout) << lines << Qt::flush;
        if (!recordPath.isEmpty()) {
            QFile record(recordPath);
            if (record.open(QIODevice::Append))
                record.write(lines.toUtf8());
        }
        return 0;
    }

    uint ListShortcuts(const QDBusObjectPath&, const QDBusObjectPath&, QVariantMap&) { return 0; }

signals:
    void Activated(const QDBusObjectPath& session_handle, const QString& shortcut_id, qulonglong timestamp,
                   const QVariantMap& options);
    void Deactivated(const QDBusObjectPath& session_handle, const QString& shortcut_id, qulonglong timestamp,
                     const QVariantMap& options);
};

class TestControl : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.vornel.PortalTest")

public:
    TestControl(QObject* parent, ShortcutsBackend* backend) : QDBusAbstractAdaptor(parent), backend_(backend) {}

public slots:
    bool Press(const QString& id)
    {
        if (backend_->session.isEmpty())
            return false;
        const auto now = static_cast<qulonglong>(QDateTime::currentMSecsSinceEpoch());
        emit backend_->Activated(QDBusObjectPath(backend_->session), id, now, {});
        emit backend_->Deactivated(QDBusObjectPath(backend_->session), id, now + 50, {});
        return true;
    }

private:
    ShortcutsBackend* backend_;
};

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    qDBusRegisterMetaType<BoundShortcut>();
    qDBusRegisterMetaType<BoundShortcuts>();
    QObject root;
    auto* backend = new ShortcutsBackend(&root);
    if (argc > 1)
        backend->recordPath = QString::fromLocal8Bit(argv[1]);
    new TestControl(&root, backend);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &root) ||
        !bus.registerService(QStringLiteral("org.freedesktop.impl.portal.desktop.vorneltest"))) {
        std::fprintf(stderr, "cannot take the backend's name on the session bus\n");
        return 1;
    }
    QTextStream(stdout) << "ready" << Qt::endl;
    return QCoreApplication::exec();
}

#include "portal_test_backend.moc"
