#include "desktop/global_hotkeys.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QGuiApplication>

#include <X11/Xlib.h>
#include <X11/Xproto.h>
#include <xcb/xcb.h>

#include <cctype>

namespace vornel::desktop {

namespace {

constexpr unsigned kHotkeyModifiers = ControlMask | ShiftMask;
// Num Lock is Mod2 on every common keymap; with either lock on, the key press carries it
// in its state, and an X grab matches modifiers exactly, so each lock state needs a grab.
constexpr unsigned kLockModifiers[] = {0, Mod2Mask, LockMask, Mod2Mask | LockMask};
constexpr unsigned kModifierBits =
    ShiftMask | LockMask | ControlMask | Mod1Mask | Mod2Mask | Mod3Mask | Mod4Mask | Mod5Mask;

Display* x11Display()
{
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (app == nullptr)
        return nullptr;
    auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>();
    return x11 != nullptr ? x11->display() : nullptr;
}

// Xlib reports a refused grab (BadAccess) asynchronously through a process-wide handler,
// whose default ends the program; the grab runs with this handler in place instead.
bool grabRefused = false;
XErrorHandler handlerBeforeGrab = nullptr;

int recordGrabError(Display* display, XErrorEvent* error)
{
    if (error->request_code == X_GrabKey) {
        grabRefused = true;
        return 0;
    }
    return handlerBeforeGrab != nullptr ? handlerBeforeGrab(display, error) : 0;
}

bool grabKey(Display* display, int keycode, unsigned modifiers)
{
    XSync(display, False);
    grabRefused = false;
    handlerBeforeGrab = XSetErrorHandler(recordGrabError);
    XGrabKey(display, keycode, modifiers, DefaultRootWindow(display), False, GrabModeAsync, GrabModeAsync);
    XSync(display, False);
    XSetErrorHandler(handlerBeforeGrab);
    handlerBeforeGrab = nullptr;
    return !grabRefused;
}

uint8_t keycodeFor(Display* display, char key)
{
    // Keysyms of Latin-1 characters are their codes; letters use the lower-case keysym.
    const auto keysym = static_cast<KeySym>(std::tolower(static_cast<unsigned char>(key)));
    return XKeysymToKeycode(display, keysym);
}

} // namespace

GlobalHotkeys::GlobalHotkeys(QObject* parent) : GlobalShortcuts(parent)
{
    if (QCoreApplication::instance() != nullptr)
        QCoreApplication::instance()->installNativeEventFilter(this);
}

GlobalHotkeys::~GlobalHotkeys()
{
    for (const auto& [id, hotkey] : hotkeys_)
        ungrab(hotkey);
    if (QCoreApplication::instance() != nullptr)
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

int32_t GlobalHotkeys::registerShortcut(const ShortcutRequest& request)
{
    const int32_t id = nextId_++;
    Hotkey& hotkey = hotkeys_[id];
    Display* display = x11Display();
    if (display == nullptr)
        return id;
    hotkey.keycode = keycodeFor(display, request.key);
    if (hotkey.keycode == 0)
        return id;
    for (unsigned locks : kLockModifiers) {
        if (grabKey(display, hotkey.keycode, kHotkeyModifiers | locks))
            hotkey.grabbedModifiers.push_back(kHotkeyModifiers | locks);
    }
    return id;
}

void GlobalHotkeys::unregisterShortcut(int32_t id)
{
    const auto found = hotkeys_.find(id);
    if (found == hotkeys_.end())
        return;
    ungrab(found->second);
    hotkeys_.erase(found);
}

void GlobalHotkeys::ungrab(const Hotkey& hotkey)
{
    Display* display = x11Display();
    if (display == nullptr || hotkey.grabbedModifiers.empty())
        return;
    for (unsigned modifiers : hotkey.grabbedModifiers)
        XUngrabKey(display, hotkey.keycode, modifiers, DefaultRootWindow(display));
    // Wait until the server has released them, so that another program can take them now.
    XSync(display, False);
}

bool GlobalHotkeys::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t" || message == nullptr)
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_KEY_PRESS)
        return false;
    const auto* press = reinterpret_cast<const xcb_key_press_event_t*>(event);
    const unsigned modifiers = press->state & kModifierBits & ~(Mod2Mask | LockMask);
    // Grabbed keys are reported to the root window; a press in one of our own windows
    // is an ordinary key press and stays with Qt.
    if (press->event != press->root || modifiers != kHotkeyModifiers)
        return false;
    for (const auto& [id, hotkey] : hotkeys_) {
        if (hotkey.keycode != 0 && hotkey.keycode == press->detail) {
            const int32_t pressed = id;
            if (onHotkey)
                onHotkey(pressed);
            return true;
        }
    }
    return false;
}

} // namespace vornel::desktop
