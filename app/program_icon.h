#pragma once
// The program icon (48, 32 and 16 pixels): window icon and tray icon.
#include <QIcon>

namespace vornel::app {

QIcon programIcon();

} // namespace vornel::app
