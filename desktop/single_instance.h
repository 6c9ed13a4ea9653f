#pragma once
// One running copy per desktop session. The first start holds the media player's name on
// the session bus; a later start finds it there, asks that copy to come to the front (out of
// the tray if it is hidden) and ends before it makes a window or grabs a key.
#include <QDBusConnection>

namespace vornel::desktop {

enum class InstanceRole {
    Alone,   // no session bus: no way to know of other copies; run as usual
    First,   // this copy holds the name now; run
    Another, // another copy runs and was asked to Raise; end
};

InstanceRole claimSingleInstance(const QDBusConnection& bus);

} // namespace vornel::desktop
