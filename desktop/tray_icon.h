#pragma once

#include <QIcon>
#include <QObject>
#include <QSystemTrayIcon>

#include <functional>

namespace vornel::desktop {

// The program's icon in the notification area, shown for the lifetime of this object,
// with a tooltip and without a menu. A click with any mouse button is reported once; the
// two presses of a double click count as one click.
class TrayIcon : public QObject {
    Q_OBJECT

public:
    explicit TrayIcon(const QIcon& icon, QObject* parent = nullptr);
    ~TrayIcon() override;

    std::function<void()> onClick;

    void setToolTip(const QString& text);
    QString toolTip() const;

private:
    void handleActivation(QSystemTrayIcon::ActivationReason reason);

    QSystemTrayIcon* icon_;
};

} // namespace vornel::desktop
