#include "desktop/desktop_session.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QtGlobal>

namespace vornel::desktop {

void prepareDesktopSession()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication::setDesktopFileName(QStringLiteral("vornelplayer"));
}

} // namespace vornel::desktop
