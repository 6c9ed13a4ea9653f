#include "desktop/global_shortcuts.h"

#include "desktop/global_hotkeys.h"
#include "desktop/portal_shortcuts.h"

#include <QByteArray>
#include <QtGlobal>

namespace vornel::desktop {

bool isWaylandSession()
{
    return !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           qgetenv("XDG_SESSION_TYPE").compare("wayland", Qt::CaseInsensitive) == 0;
}

std::unique_ptr<GlobalShortcuts> makeGlobalShortcuts(const QDBusConnection& bus)
{
    if (isWaylandSession() && PortalShortcuts::offeredOn(bus))
        return std::make_unique<PortalShortcuts>(bus);
    return std::make_unique<GlobalHotkeys>();
}

} // namespace vornel::desktop
