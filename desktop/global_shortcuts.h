#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

namespace vornel::desktop {

// One system-wide Ctrl+Shift+<key> combination: the key, and the name and description
// under which a desktop that asks its user about shortcuts lists it.
struct ShortcutRequest {
    char key = 0;
    QString name;
    QString description;
};

// Shortcuts that reach the program whichever application has the focus and while its
// windows are hidden. A combination the desktop refuses or another program holds does
// nothing, without a report.
class GlobalShortcuts : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // Returns the combination's id, distinct from every other id of this object.
    virtual int32_t registerShortcut(const ShortcutRequest& request) = 0;
    virtual void unregisterShortcut(int32_t id) = 0;

    // Runs on the GUI thread when a registered combination is pressed.
    std::function<void(int32_t id)> onHotkey;
};

// Whether the session is a Wayland one, where X11 grabs only see keys while one of the
// program's own windows has the focus.
bool isWaylandSession();

// The desktop portal's shortcuts on a Wayland session whose portal offers them on `bus`,
// the X11 grabs otherwise.
std::unique_ptr<GlobalShortcuts> makeGlobalShortcuts(const QDBusConnection& bus);

} // namespace vornel::desktop
