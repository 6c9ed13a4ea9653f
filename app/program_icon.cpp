#include "app/program_icon.h"

namespace vornel::app {

QIcon programIcon()
{
    QIcon icon;
    for (int size : {16, 32, 48})
        icon.addFile(QStringLiteral(":/icon-%1.png").arg(size), QSize(size, size));
    return icon;
}

} // namespace vornel::app
