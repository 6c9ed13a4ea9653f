#include "desktop/tray_icon.h"

namespace vornel::desktop {

TrayIcon::TrayIcon(const QIcon& icon, QObject* parent) : QObject(parent), icon_(new QSystemTrayIcon(icon, this))
{
    icon_->setToolTip(QString());
    connect(icon_, &QSystemTrayIcon::activated, this, &TrayIcon::handleActivation);
    icon_->show();
}

// The desktop is told only of a real change.
void TrayIcon::setToolTip(const QString& text)
{
    if (text != icon_->toolTip())
        icon_->setToolTip(text);
}

QString TrayIcon::toolTip() const
{
    return icon_->toolTip();
}

TrayIcon::~TrayIcon()
{
    icon_->hide();
}

void TrayIcon::handleActivation(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Trigger:
    case QSystemTrayIcon::Context:
    case QSystemTrayIcon::MiddleClick:
        if (onClick)
            onClick();
        break;
    case QSystemTrayIcon::DoubleClick:
        // The first press of the double click has already been reported as a Trigger.
    case QSystemTrayIcon::Unknown: break;
    }
}

} // namespace vornel::desktop
