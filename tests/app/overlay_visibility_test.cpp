// The loading overlay when the program is hidden behind its tray icon during a page load:
// once shown again, the overlay is on screen exactly while a load runs.
#include "window_fixture.h"

#include "app/loading_overlay.h"
#include "desktop/application_visibility.h"
#include "tests/support/scripted_server.h"

#include <QListWidget>
#include <QTimer>

#include <chrono>

using vornel::desktop::isApplicationVisible;
using vornel::test::ConnectionScript;
using vornel::test::Route;
using vornel::test::ScriptedServer;
using vornel::test::WindowTest;

namespace {

const std::string kPage = "<html><body><p><a href=\"http://files.example/1\">one</a></p></body></html>";

class OverlayVisibilityTest : public WindowTest {
protected:
    // A window whose page loads take about 600 ms, with its overlay, on screen.
    TfrmVornelPlayer& createShownWindow()
    {
        for (int i = 0; i < 3; ++i)
            server.addConnection(ConnectionScript()
                                     .expectHead()
                                     .wait(std::chrono::milliseconds(600))
                                     .send(ScriptedServer::ok200(kPage)));
        server.addRoute("/", Route{kPage, "text/html"});
        TfrmVornelPlayer& w = createWindow();
        w.catalogueBase = server.url("/");
        w.fileHost = "files.example";
        w.setLoadingOverlay(&overlay);
        w.showCentred();
        EXPECT_TRUE(vornel::test::runEventsUntil([&] { return isApplicationVisible(&w); }));
        return w;
    }

    // Starts a page load and runs `during` once the load is under way; returns when it ended.
    void loadWith(const std::function<void()>& during)
    {
        QTimer::singleShot(150, window.get(), during);
        window->Timer1->start();
        ASSERT_TRUE(vornel::test::runEventsUntil([&] { return !window->Timer1->isActive(); }));
        ASSERT_TRUE(vornel::test::runEventsUntil([&] { return window->lb_PlayList->count() == 1; }));
        vornel::test::runEventsFor(50);
    }

    void TearDown() override
    {
        if (window)
            window->setLoadingOverlay(nullptr);
        WindowTest::TearDown();
    }

    ScriptedServer server;
    LoadingOverlay overlay;
};

TEST_F(OverlayVisibilityTest, HiddenDuringALoadThatEndsTheOverlayStaysClosedWhenShownAgain)
{
    TfrmVornelPlayer& w = createShownWindow();
    bool overlayWasUp = false;
    loadWith([&] {
        overlayWasUp = overlay.isVisible();
        w.JvTrayIcon1Click();
    });
    EXPECT_TRUE(overlayWasUp) << "the load showed the overlay";
    EXPECT_FALSE(isApplicationVisible(&w));
    w.JvTrayIcon1Click();
    ASSERT_TRUE(vornel::test::runEventsUntil([&] { return isApplicationVisible(&w); }));
    vornel::test::runEventsFor(100);
    EXPECT_FALSE(overlay.isVisible()) << "no load runs, so no overlay";
}

TEST_F(OverlayVisibilityTest, MinimisedDuringALoadThatEndsTheOverlayStaysClosedWhenShownAgain)
{
    TfrmVornelPlayer& w = createShownWindow();
    loadWith([&] { w.setWindowState(Qt::WindowMinimized); });
    EXPECT_FALSE(isApplicationVisible(&w));
    w.JvTrayIcon1Click();
    ASSERT_TRUE(vornel::test::runEventsUntil([&] { return isApplicationVisible(&w); }));
    vornel::test::runEventsFor(100);
    EXPECT_FALSE(overlay.isVisible());
}

TEST_F(OverlayVisibilityTest, ShownAgainWhileTheLoadRunsTheOverlayIsBackUntilItEnds)
{
    TfrmVornelPlayer& w = createShownWindow();
    bool backDuringLoad = false;
    loadWith([&] {
        w.JvTrayIcon1Click();
        w.JvTrayIcon1Click();
        backDuringLoad = overlay.isVisible();
    });
    EXPECT_TRUE(backDuringLoad) << "the load still runs: the overlay comes back with the program";
    EXPECT_FALSE(overlay.isVisible()) << "closed when the load ended";
}

TEST_F(OverlayVisibilityTest, ALoadStartedWhileHiddenShowsItsOverlayOnlyWhenTheProgramComesBack)
{
    TfrmVornelPlayer& w = createShownWindow();
    w.JvTrayIcon1Click();
    ASSERT_FALSE(isApplicationVisible(&w));
    bool upWhileHidden = true;
    bool upOnceShown = false;
    loadWith([&] {
        upWhileHidden = overlay.isVisible();
        w.JvTrayIcon1Click();
        upOnceShown = overlay.isVisible();
    });
    EXPECT_FALSE(upWhileHidden) << "no overlay over a hidden program";
    EXPECT_TRUE(upOnceShown);
    EXPECT_FALSE(overlay.isVisible());
    w.JvTrayIcon1Click();
    w.JvTrayIcon1Click();
    EXPECT_FALSE(overlay.isVisible()) << "hiding and showing after the load brings nothing back";
}

} // namespace
