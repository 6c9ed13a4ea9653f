#include "desktop/x11_platform.h"

#include <QByteArray>
#include <QtGlobal>

void preferX11Platform()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
}
