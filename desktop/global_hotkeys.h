#pragma once

#include "desktop/global_shortcuts.h"

#include <QAbstractNativeEventFilter>

#include <cstdint>
#include <map>
#include <vector>

namespace vornel::desktop {

// System-wide Ctrl+Shift+<key> combinations, grabbed on the X11 root window so that they
// reach the program whichever application has the focus and while its windows are hidden.
// Without an X11 display (another Qt platform) registration hands out ids but grabs nothing.
class GlobalHotkeys : public GlobalShortcuts, public QAbstractNativeEventFilter {
    Q_OBJECT

public:
    explicit GlobalHotkeys(QObject* parent = nullptr);
    ~GlobalHotkeys() override;

    // Grabs Ctrl+Shift+key, also with Num Lock and Caps Lock on, and returns its id; the
    // request's name and description are not used by X11. A combination that another client
    // already holds is left to it without any report.
    int32_t registerShortcut(const ShortcutRequest& request) override;
    void unregisterShortcut(int32_t id) override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    struct Hotkey {
        uint8_t keycode = 0;
        std::vector<unsigned> grabbedModifiers;
    };

    void ungrab(const Hotkey& hotkey);

    std::map<int32_t, Hotkey> hotkeys_;
    int32_t nextId_ = 0xC000;
};

} // namespace vornel::desktop
