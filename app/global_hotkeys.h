#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

// System-wide Ctrl+Shift+<key> combinations, grabbed on the X11 root window so that they
// reach the program whichever application has the focus and while its windows are hidden.
// Without an X11 display (another Qt platform) registration hands out ids but grabs nothing.
class GlobalHotkeys : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT

public:
    explicit GlobalHotkeys(QObject* parent = nullptr);
    ~GlobalHotkeys() override;

    // Grabs Ctrl+Shift+key, also with Num Lock and Caps Lock on, and returns its id. A
    // combination that another client already holds is left to it without any report.
    int32_t registerHotkey(char key);
    void unregisterHotkey(int32_t id);

    // Runs on the GUI thread when a registered combination is pressed.
    std::function<void(int32_t id)> onHotkey;

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
