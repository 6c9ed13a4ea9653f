// The overlay on a real X server (an Xvfb of its own): the animation thread keeps the
// frames coming while the window thread is blocked.
#include "app/loading_overlay.h"
#include "tests/support/x_session.h"

#include "tests/support/event_wait.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

using vornel::test::runEventsUntil;

// The animation's child window inside the overlay's native window, seen from a separate
// X connection.
struct ChildWindow {
    Display* display = XOpenDisplay(nullptr);
    Window window = 0;
    explicit ChildWindow(WId parent)
    {
        Window root, parentOut, *children = nullptr;
        unsigned count = 0;
        if (display && XQueryTree(display, parent, &root, &parentOut, &children, &count) && count)
            window = children[0];
        if (children)
            XFree(children);
    }
    ~ChildWindow()
    {
        if (display)
            XCloseDisplay(display);
    }
};

TEST(LoadingOverlayX11, FramesKeepComingWhileTheWindowThreadIsBlocked)
{
    LoadingOverlay overlay;
    ASSERT_TRUE(overlay.drawsOnItsOwnThread());
    overlay.placeAt(QPoint(40, 40));
    overlay.resizeTo(QSize(439, 230));
    overlay.showOverlay();
    ASSERT_TRUE(runEventsUntil([&] { return overlay.framesDrawn() >= 2; }));

    // Blocked as in a page request; nothing is pumped meanwhile.
    const uint64_t before = overlay.framesDrawn();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const uint64_t during = overlay.framesDrawn() - before;
    RecordProperty("framesWhileBlocked", static_cast<int>(during));
    // About 21 frames at 70 ms each; a busy machine may draw fewer, but never none and never
    // more than their delays allow.
    EXPECT_GE(during, 3u) << "the animation stood still while the window thread was blocked";
    EXPECT_LE(during, 40u) << "frames must wait for their delay";
}

// Counts the white pixels that the screen shows in the overlay's picture area.
int whiteOnScreen(Display* display, WId overlay)
{
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, overlay, &attributes) || attributes.map_state != IsViewable)
        return -1;
    XImage* image = XGetImage(display, overlay, 8, 0, 400, 230, AllPlanes, ZPixmap);
    if (!image)
        return -1;
    int white = 0;
    for (int y = 0; y < 230; ++y)
        for (int x = 0; x < 400; ++x)
            white += (XGetPixel(image, x, y) & 0xFFFFFF) == 0xFFFFFF;
    XDestroyImage(image);
    return white;
}

TEST(LoadingOverlayX11, ShownAndBlockedAtOnceTheAnimationIsOnScreen)
{
    LoadingOverlay overlay;
    overlay.resizeTo(QSize(439, 230));
    const WId window = overlay.winId();
    // A page load shows the overlay and goes straight into its request.
    overlay.showOverlay();
    int seen = -2;
    std::thread watcher([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        Display* display = XOpenDisplay(nullptr);
        seen = display ? whiteOnScreen(display, window) : -3;
        if (display)
            XCloseDisplay(display);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    watcher.join();
    EXPECT_GT(seen, 500) << "-1: the overlay is not on screen while the window thread is blocked";
}

TEST(LoadingOverlayX11, PictureSitsAt8Minus36AndShowsTheCat)
{
    LoadingOverlay overlay;
    overlay.resizeTo(QSize(439, 230));
    overlay.showOverlay();
    ASSERT_TRUE(runEventsUntil([&] { return overlay.framesDrawn() >= 3; }));
    QApplication::processEvents();

    ChildWindow child(overlay.winId());
    ASSERT_NE(child.window, 0u);
    Window root;
    int x = 0, y = 0;
    unsigned width = 0, height = 0, border = 0, depth = 0;
    ASSERT_TRUE(XGetGeometry(child.display, child.window, &root, &x, &y, &width, &height, &border, &depth));
    EXPECT_EQ(x, 8);
    EXPECT_EQ(y, -36);
    EXPECT_EQ(width, 400u);
    EXPECT_EQ(height, 300u);

    // The visible rows 36 to 265 of the picture hold the white cat.
    XImage* image = XGetImage(child.display, child.window, 0, 36, 400, 230, AllPlanes, ZPixmap);
    ASSERT_NE(image, nullptr);
    int white = 0;
    for (int py = 0; py < 230; ++py)
        for (int px = 0; px < 400; ++px)
            white += (XGetPixel(image, px, py) & 0xFFFFFF) == 0xFFFFFF;
    XDestroyImage(image);
    EXPECT_GT(white, 500);
}

TEST(LoadingOverlayX11, ClosedTheAnimationRestsAndResumesOnTheNextShow)
{
    LoadingOverlay overlay;
    overlay.showOverlay();
    ASSERT_TRUE(runEventsUntil([&] { return overlay.framesDrawn() >= 2; }));
    overlay.closeOverlay();
    QApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const uint64_t atClose = overlay.framesDrawn();
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_EQ(overlay.framesDrawn(), atClose);
    overlay.showOverlay();
    EXPECT_TRUE(runEventsUntil([&] { return overlay.framesDrawn() >= atClose + 3; }));
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
    vornel::test::XSession session;
    std::string whyNot;
    if (!session.start(whyNot)) {
        std::fprintf(stderr, "%s\n", whyNot.c_str());
        return 1;
    }
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    int code = 0;
    {
        QApplication app(argc, argv);
        code = RUN_ALL_TESTS();
    }
    return code;
}
