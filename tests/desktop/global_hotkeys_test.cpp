#include "desktop/global_hotkeys.h"

#include "desktop_test_support.h"

#include <QByteArray>

#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <vector>

using namespace vornel::desktop;

namespace {

constexpr unsigned kLockVariants[] = {0, Mod2Mask, LockMask, Mod2Mask | LockMask};

// Another program on the same display, with its own connection.
class OtherXClient {
public:
    OtherXClient() : display_(XOpenDisplay(nullptr)) {}
    ~OtherXClient()
    {
        if (display_ != nullptr)
            XCloseDisplay(display_);
    }
    bool connected() const { return display_ != nullptr; }

    // Whether the server accepted a grab of Ctrl+Shift+key with the given lock modifiers.
    bool grab(KeySym key, unsigned locks)
    {
        XSync(display_, False);
        refused = false;
        XErrorHandler previous = XSetErrorHandler(recordError);
        XGrabKey(display_, XKeysymToKeycode(display_, key), ControlMask | ShiftMask | locks,
                 DefaultRootWindow(display_), False, GrabModeAsync, GrabModeAsync);
        XSync(display_, False);
        XSetErrorHandler(previous);
        return !refused;
    }

    unsigned lockedModifiers()
    {
        Window root = 0, child = 0;
        int x = 0, y = 0, wx = 0, wy = 0;
        unsigned mask = 0;
        XQueryPointer(display_, DefaultRootWindow(display_), &root, &child, &x, &y, &wx, &wy, &mask);
        return mask & (Mod2Mask | LockMask);
    }

    uint8_t keycode(KeySym key) { return XKeysymToKeycode(display_, key); }

private:
    static int recordError(Display*, XErrorEvent*)
    {
        refused = true;
        return 0;
    }
    static inline bool refused = false;
    Display* display_;
};

class GlobalHotkeysTest : public testing::Test {
protected:
    void SetUp() override
    {
        SKIP_WITHOUT_X_SESSION();
        hotkeys.onHotkey = [this](int32_t id) { pressed.push_back(id); };
        download = hotkeys.registerShortcut(shortcutFor('D'));
        next = hotkeys.registerShortcut(shortcutFor('W'));
        previous = hotkeys.registerShortcut(shortcutFor('Q'));
        pause = hotkeys.registerShortcut(shortcutFor('P'));
    }

    // Sends the keys and waits until the sentinel id has been reported.
    std::vector<int32_t> pressedAfter(const std::vector<std::string>& keys, int32_t sentinel)
    {
        pressed.clear();
        for (const std::string& key : keys)
            EXPECT_TRUE(runProgram("xdotool", "key " + key)) << key;
        runEventsUntil([&] { return !pressed.empty() && pressed.back() == sentinel; });
        return pressed;
    }

    GlobalHotkeys hotkeys;
    std::vector<int32_t> pressed;
    int32_t download = 0, next = 0, previous = 0, pause = 0;
};

TEST_F(GlobalHotkeysTest, IdsAreDistinctAndClearOfLowValues)
{
    const std::vector<int32_t> ids{download, next, previous, pause};
    for (std::size_t i = 0; i < ids.size(); ++i) {
        EXPECT_GE(ids[i], 0xC000);
        for (std::size_t j = i + 1; j < ids.size(); ++j)
            EXPECT_NE(ids[i], ids[j]);
    }
}

TEST_F(GlobalHotkeysTest, EachCombinationReportsItsOwnId)
{
    EXPECT_EQ(pressedAfter({"ctrl+shift+w"}, next), std::vector<int32_t>{next});
    EXPECT_EQ(pressedAfter({"ctrl+shift+d"}, download), std::vector<int32_t>{download});
    EXPECT_EQ(pressedAfter({"ctrl+shift+q"}, previous), std::vector<int32_t>{previous});
    EXPECT_EQ(pressedAfter({"ctrl+shift+p"}, pause), std::vector<int32_t>{pause});
}

TEST_F(GlobalHotkeysTest, WorksWithNumLockAndCapsLockOn)
{
    OtherXClient probe;
    ASSERT_TRUE(probe.connected());
    ASSERT_TRUE(runProgram("xdotool", "key Num_Lock"));
    ASSERT_EQ(probe.lockedModifiers(), unsigned(Mod2Mask));
    EXPECT_EQ(pressedAfter({"ctrl+shift+w"}, next), std::vector<int32_t>{next});

    ASSERT_TRUE(runProgram("xdotool", "key Caps_Lock"));
    ASSERT_EQ(probe.lockedModifiers(), unsigned(Mod2Mask | LockMask));
    EXPECT_EQ(pressedAfter({"ctrl+shift+w"}, next), std::vector<int32_t>{next});

    ASSERT_TRUE(runProgram("xdotool", "key Num_Lock"));
    ASSERT_EQ(probe.lockedModifiers(), unsigned(LockMask));
    EXPECT_EQ(pressedAfter({"ctrl+shift+w"}, next), std::vector<int32_t>{next});

    ASSERT_TRUE(runProgram("xdotool", "key Caps_Lock"));
    EXPECT_EQ(probe.lockedModifiers(), 0u);
}

TEST_F(GlobalHotkeysTest, OtherModifierCombinationsAreNotHotkeys)
{
    // Ctrl+Shift+Q comes last as a marker: X delivers events in order, so a wrong match of
    // any earlier combination would show before it.
    EXPECT_EQ(
        pressedAfter({"ctrl+w", "ctrl+shift+alt+w", "shift+w", "w", "ctrl+d", "ctrl+shift+super+d", "ctrl+shift+q"},
                     previous),
        std::vector<int32_t>{previous});
}

xcb_key_press_event_t keyPress(uint8_t keycode, uint16_t state)
{
    xcb_key_press_event_t event{};
    event.response_type = XCB_KEY_PRESS;
    event.detail = keycode;
    event.state = state;
    event.root = 1;
    event.event = 1;
    return event;
}

TEST_F(GlobalHotkeysTest, FilterMatchesExactlyCtrlShiftIgnoringLocks)
{
    OtherXClient probe;
    ASSERT_TRUE(probe.connected());
    const uint8_t w = probe.keycode(XK_w);
    struct Case {
        uint16_t state;
        bool matches;
    };
    const Case cases[] = {
        {ControlMask | ShiftMask, true},
        {ControlMask | ShiftMask | Mod2Mask | LockMask, true},
        {ControlMask | ShiftMask | Button1Mask, true},
        {ControlMask | ShiftMask | Mod1Mask, false},
        {ControlMask | ShiftMask | Mod4Mask, false},
        {ControlMask, false},
        {ShiftMask | Mod2Mask, false},
    };
    const QByteArray type("xcb_generic_event_t");
    for (const Case& c : cases) {
        pressed.clear();
        xcb_key_press_event_t event = keyPress(w, c.state);
        EXPECT_EQ(hotkeys.nativeEventFilter(type, &event, nullptr), c.matches) << c.state;
        EXPECT_EQ(pressed, c.matches ? std::vector<int32_t>{next} : std::vector<int32_t>{}) << c.state;
    }
    xcb_key_press_event_t inOurWindow = keyPress(w, ControlMask | ShiftMask);
    inOurWindow.event = 2;
    EXPECT_FALSE(hotkeys.nativeEventFilter(type, &inOurWindow, nullptr));
    xcb_key_press_event_t release = keyPress(w, ControlMask | ShiftMask);
    release.response_type = XCB_KEY_RELEASE;
    EXPECT_FALSE(hotkeys.nativeEventFilter(type, &release, nullptr));
}

TEST(GlobalHotkeysHeldElsewhere, CombinationHeldByAnotherClientFailsSilently)
{
    SKIP_WITHOUT_X_SESSION();
    OtherXClient other;
    ASSERT_TRUE(other.connected());
    for (unsigned locks : kLockVariants)
        ASSERT_TRUE(other.grab(XK_p, locks));

    GlobalHotkeys hotkeys;
    std::vector<int32_t> pressed;
    hotkeys.onHotkey = [&](int32_t id) { pressed.push_back(id); };
    const int32_t download = hotkeys.registerShortcut(shortcutFor('D'));
    const int32_t next = hotkeys.registerShortcut(shortcutFor('W'));
    const int32_t previous = hotkeys.registerShortcut(shortcutFor('Q'));
    const int32_t pause = hotkeys.registerShortcut(shortcutFor('P'));
    EXPECT_NE(pause, next);

    for (const char* key : {"ctrl+shift+p", "ctrl+shift+d", "ctrl+shift+w", "ctrl+shift+q"})
        EXPECT_TRUE(runProgram("xdotool", std::string("key ") + key));
    runEventsUntil([&] { return pressed.size() >= 3; });
    processEventsFor(200);
    EXPECT_EQ(pressed, (std::vector<int32_t>{download, next, previous}));
}

bool otherClientGetsAllCombinations(OtherXClient& other)
{
    bool all = true;
    for (KeySym key : {XK_d, XK_w, XK_q, XK_p}) {
        for (unsigned locks : kLockVariants)
            all = other.grab(key, locks) && all;
    }
    return all;
}

TEST(GlobalHotkeysRelease, UnregisterLetsAnotherClientGrabAllFour)
{
    SKIP_WITHOUT_X_SESSION();
    GlobalHotkeys hotkeys;
    std::vector<int32_t> ids;
    for (char key : {'D', 'W', 'Q', 'P'})
        ids.push_back(hotkeys.registerShortcut(shortcutFor(key)));
    OtherXClient other;
    ASSERT_TRUE(other.connected());
    EXPECT_FALSE(other.grab(XK_w, Mod2Mask)) << "the combination should be held while registered";

    for (int32_t id : ids)
        hotkeys.unregisterShortcut(id);
    EXPECT_TRUE(otherClientGetsAllCombinations(other));
}

TEST(GlobalHotkeysRelease, DestructionLetsAnotherClientGrabAllFour)
{
    SKIP_WITHOUT_X_SESSION();
    {
        GlobalHotkeys hotkeys;
        for (char key : {'D', 'W', 'Q', 'P'})
            hotkeys.registerShortcut(shortcutFor(key));
    }
    OtherXClient other;
    ASSERT_TRUE(other.connected());
    EXPECT_TRUE(otherClientGetsAllCombinations(other));
}

TEST(GlobalHotkeysRelease, UnknownIdIsIgnored)
{
    SKIP_WITHOUT_X_SESSION();
    GlobalHotkeys hotkeys;
    const int32_t id = hotkeys.registerShortcut(shortcutFor('W'));
    hotkeys.unregisterShortcut(id + 100);
    OtherXClient other;
    ASSERT_TRUE(other.connected());
    EXPECT_FALSE(other.grab(XK_w, 0));
}

} // namespace
