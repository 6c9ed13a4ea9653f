#include "desktop/application_visibility.h"
#include "desktop/global_hotkeys.h"

#include "desktop_test_support.h"

#include <QWidget>

#include <X11/Xlib.h>

#include <memory>
#include <vector>

using namespace vornel::desktop;

namespace {

// The X server's view: an unmapped top-level window has no place on screen or in a taskbar.
bool mappedOnServer(QWidget* window)
{
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return false;
    XWindowAttributes attributes{};
    const bool known = XGetWindowAttributes(display, window->winId(), &attributes) != 0;
    XCloseDisplay(display);
    return known && attributes.map_state == IsViewable;
}

class ApplicationVisibilityTest : public testing::Test {
protected:
    void SetUp() override
    {
        SKIP_WITHOUT_X_SESSION();
        mainWindow = std::make_unique<QWidget>();
        mainWindow->setGeometry(120, 90, 320, 240);
        overlay = std::make_unique<QWidget>(nullptr, Qt::FramelessWindowHint);
        overlay->setGeometry(130, 130, 100, 80);
        mainWindow->show();
        ASSERT_TRUE(runEventsUntil([&] { return mappedOnServer(mainWindow.get()); }));
    }

    void showOverlay()
    {
        overlay->show();
        ASSERT_TRUE(runEventsUntil([&] { return mappedOnServer(overlay.get()); }));
    }

    QList<QWidget*> others() const { return {overlay.get()}; }

    std::unique_ptr<QWidget> mainWindow;
    std::unique_ptr<QWidget> overlay;
};

TEST_F(ApplicationVisibilityTest, HideTakesEveryWindowOffTheServer)
{
    showOverlay();
    EXPECT_TRUE(isApplicationVisible(mainWindow.get()));
    HideApplication(mainWindow.get(), others());
    EXPECT_FALSE(isApplicationVisible(mainWindow.get()));
    EXPECT_TRUE(runEventsUntil([&] { return !mappedOnServer(mainWindow.get()) && !mappedOnServer(overlay.get()); }));
}

TEST_F(ApplicationVisibilityTest, ShowBringsTheWindowBackInPlaceWithTheOverlay)
{
    showOverlay();
    const QRect placeBefore = mainWindow->geometry();
    HideApplication(mainWindow.get(), others());
    processEventsFor(100);
    ShowApplication(mainWindow.get(), others());
    EXPECT_TRUE(runEventsUntil([&] { return mappedOnServer(mainWindow.get()) && mappedOnServer(overlay.get()); }));
    EXPECT_TRUE(isApplicationVisible(mainWindow.get()));
    EXPECT_EQ(mainWindow->geometry(), placeBefore);
}

TEST_F(ApplicationVisibilityTest, OverlayThatWasHiddenStaysHidden)
{
    HideApplication(mainWindow.get(), others());
    ShowApplication(mainWindow.get(), others());
    ASSERT_TRUE(runEventsUntil([&] { return mappedOnServer(mainWindow.get()); }));
    processEventsFor(100);
    EXPECT_FALSE(overlay->isVisible());
    EXPECT_FALSE(mappedOnServer(overlay.get()));
}

TEST_F(ApplicationVisibilityTest, HidingTwiceKeepsTheOverlayToShowAgain)
{
    showOverlay();
    HideApplication(mainWindow.get(), others());
    HideApplication(mainWindow.get(), others());
    ShowApplication(mainWindow.get(), others());
    EXPECT_TRUE(overlay->isVisible());
}

TEST_F(ApplicationVisibilityTest, MinimisedWindowCountsAsHiddenAndShowRestoresIt)
{
    mainWindow->showMinimized();
    ASSERT_TRUE(runEventsUntil([&] { return mainWindow->isMinimized(); }));
    EXPECT_FALSE(isApplicationVisible(mainWindow.get()));
    ShowApplication(mainWindow.get(), others());
    EXPECT_FALSE(mainWindow->isMinimized());
    EXPECT_TRUE(isApplicationVisible(mainWindow.get()));
}

TEST_F(ApplicationVisibilityTest, NullMainWindowIsHidden)
{
    EXPECT_FALSE(isApplicationVisible(nullptr));
    HideApplication(nullptr, others());
    ShowApplication(nullptr, others());
}

TEST_F(ApplicationVisibilityTest, HotkeysStillArriveWhileHidden)
{
    GlobalHotkeys hotkeys;
    std::vector<int32_t> pressed;
    hotkeys.onHotkey = [&](int32_t id) { pressed.push_back(id); };
    const int32_t next = hotkeys.registerShortcut(shortcutFor('W'));
    HideApplication(mainWindow.get(), others());
    ASSERT_TRUE(runEventsUntil([&] { return !mappedOnServer(mainWindow.get()); }));

    ASSERT_TRUE(runProgram("xdotool", "key ctrl+shift+w"));
    EXPECT_TRUE(runEventsUntil([&] { return !pressed.empty(); }));
    EXPECT_EQ(pressed, std::vector<int32_t>{next});
    EXPECT_FALSE(mainWindow->isVisible());
}

} // namespace
