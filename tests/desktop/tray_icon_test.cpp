#include "desktop/application_visibility.h"
#include "desktop/tray_icon.h"

#include "desktop_test_support.h"

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QApplication>
#include <QWidget>

#include <X11/Xlib.h>

#include <memory>
#include <string>
#include <vector>

using namespace vornel::desktop;

namespace {

QIcon programIcon()
{
    QPixmap pixmap(22, 22);
    pixmap.fill(QColor(200, 40, 40));
    return QIcon(pixmap);
}

// trayer as the notification area of the test's display.
class Panel {
public:
    ~Panel() { stop(); }
    void start()
    {
        pid_ = startProgram("trayer", "--edge top --align right --widthtype pixel --width 120 "
                                      "--height 32 --SetDockType false --SetPartialStrut false "
                                      "--transparent false");
    }
    void stop()
    {
        stopProgram(pid_);
        pid_ = -1;
    }
    bool started() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
};

// The X window of the icon, which the panel takes in as a child of its own window.
QWidget* iconWindow()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (QByteArray(widget->metaObject()->className()) == "QSystemTrayIconSys")
            return widget;
    }
    return nullptr;
}

bool iconIsInAPanel()
{
    QWidget* window = iconWindow();
    if (window == nullptr)
        return false;
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return false;
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    const bool queried = XQueryTree(display, window->winId(), &root, &parent, &children, &count) != 0;
    if (children != nullptr)
        XFree(children);
    XCloseDisplay(display);
    return queried && parent != root;
}

class TrayIconTest : public testing::Test {
protected:
    void SetUp() override
    {
        SKIP_WITHOUT_X_SESSION();
        panel.start();
        ASSERT_TRUE(panel.started());
        ASSERT_TRUE(runEventsUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }))
            << "trayer did not take the tray selection";

        mainWindow = std::make_unique<QWidget>();
        mainWindow->setGeometry(200, 300, 320, 240);
        mainWindow->show();
        overlay = std::make_unique<QWidget>(nullptr, Qt::FramelessWindowHint);
        overlay->setGeometry(210, 340, 100, 80);
        overlay->show();
        ASSERT_TRUE(runEventsUntil([&] { return mainWindow->isVisible() && overlay->isVisible(); }));

        tray = std::make_unique<TrayIcon>(programIcon());
        tray->onClick = [this] {
            ++clicks;
            if (isApplicationVisible(mainWindow.get()))
                HideApplication(mainWindow.get(), {overlay.get()});
            else
                ShowApplication(mainWindow.get(), {overlay.get()});
        };
        systemIcon = tray->findChild<QSystemTrayIcon*>();
        ASSERT_NE(systemIcon, nullptr);
        ASSERT_TRUE(waitUntilDocked());
    }

    bool waitUntilDocked()
    {
        // Until the panel has taken the icon in, it reports a geometry at the origin; the
        // panel sits at the right end of the screen's top edge.
        return runEventsUntil([&] { return systemIcon->geometry().isValid() && systemIcon->geometry().x() > 0; },
                              10000);
    }

    // Clicks the icon where the panel shows it, then waits for the click to arrive.
    void clickIcon(const std::string& clickArguments, int expectedClicks)
    {
        const QPoint centre = systemIcon->geometry().center();
        ASSERT_TRUE(runProgram("xdotool", "mousemove " + std::to_string(centre.x()) + " " + std::to_string(centre.y()) +
                                              " " + clickArguments));
        runEventsUntil([&] { return clicks >= expectedClicks; });
        // A second, unwanted click would come right behind the first.
        processEventsFor(300);
    }

    Panel panel;
    std::unique_ptr<QWidget> mainWindow;
    std::unique_ptr<QWidget> overlay;
    std::unique_ptr<TrayIcon> tray;
    QSystemTrayIcon* systemIcon = nullptr;
    int clicks = 0;
};

TEST_F(TrayIconTest, IconIsInThePanelWithTheTooltipItIsGivenAndNoMenu)
{
    EXPECT_TRUE(systemIcon->isVisible());
    EXPECT_TRUE(iconIsInAPanel());
    EXPECT_TRUE(systemIcon->geometry().isValid());
    EXPECT_TRUE(systemIcon->toolTip().isEmpty());
    tray->setToolTip(QStringLiteral("VornelPlayer\nDemo Band - Track 01"));
    EXPECT_EQ(systemIcon->toolTip(), QStringLiteral("VornelPlayer\nDemo Band - Track 01"));
    EXPECT_EQ(tray->toolTip(), systemIcon->toolTip());
    EXPECT_EQ(systemIcon->contextMenu(), nullptr);
}

TEST_F(TrayIconTest, LeftClickHidesAndTheNextBringsBack)
{
    const QRect placeBefore = mainWindow->geometry();
    clickIcon("click 1", 1);
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(mainWindow->isVisible());
    EXPECT_FALSE(overlay->isVisible());

    clickIcon("click 1", 2);
    EXPECT_EQ(clicks, 2);
    EXPECT_TRUE(mainWindow->isVisible());
    EXPECT_TRUE(overlay->isVisible());
    EXPECT_EQ(mainWindow->geometry(), placeBefore);
}

TEST_F(TrayIconTest, RightAndMiddleClicksToggleLikeALeftClick)
{
    clickIcon("click 3", 1);
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(mainWindow->isVisible());
    clickIcon("click 2", 2);
    EXPECT_EQ(clicks, 2);
    EXPECT_TRUE(mainWindow->isVisible());
}

TEST_F(TrayIconTest, DoubleClickTogglesOnce)
{
    std::vector<QSystemTrayIcon::ActivationReason> reasons;
    QObject::connect(systemIcon, &QSystemTrayIcon::activated,
                     [&](QSystemTrayIcon::ActivationReason reason) { reasons.push_back(reason); });
    clickIcon("click --repeat 2 --delay 60 1", 1);
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(mainWindow->isVisible());
    // Qt did see a double click: its first press comes as a Trigger.
    EXPECT_EQ(reasons,
              (std::vector<QSystemTrayIcon::ActivationReason>{QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick}));

    clickIcon("click --repeat 2 --delay 60 1", 2);
    EXPECT_EQ(clicks, 2);
    EXPECT_TRUE(mainWindow->isVisible());
}

TEST_F(TrayIconTest, IconComesBackWhenThePanelRestarts)
{
    ASSERT_TRUE(iconIsInAPanel());
    panel.stop();
    ASSERT_TRUE(runEventsUntil([] { return !QSystemTrayIcon::isSystemTrayAvailable(); }));
    EXPECT_TRUE(runEventsUntil([] { return !iconIsInAPanel(); }));
    panel.start();
    ASSERT_TRUE(runEventsUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }));
    EXPECT_TRUE(runEventsUntil([] { return iconIsInAPanel(); }, 10000));
    ASSERT_TRUE(waitUntilDocked());

    clickIcon("click 1", 1);
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(mainWindow->isVisible());
}

struct ActivationCase {
    QSystemTrayIcon::ActivationReason reason;
    int clicks;
};

TEST_F(TrayIconTest, ActivationReasonsGiveOneClickPerButtonAndNoneForTheDoubleClick)
{
    const ActivationCase cases[] = {
        {QSystemTrayIcon::Trigger, 1},     {QSystemTrayIcon::Context, 1}, {QSystemTrayIcon::MiddleClick, 1},
        {QSystemTrayIcon::DoubleClick, 0}, {QSystemTrayIcon::Unknown, 0},
    };
    for (const ActivationCase& c : cases) {
        clicks = 0;
        emit systemIcon->activated(c.reason);
        EXPECT_EQ(clicks, c.clicks) << c.reason;
    }
}

} // namespace
