// The overlay where there is no X display: frames are painted on the window thread.
#include "app/loading_overlay.h"

#include "tests/support/event_wait.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

namespace {

using vornel::test::runEventsUntil;

TEST(LoadingOverlayOffscreen, TheAnimationCompiledIntoTheProgramIsTheCommittedAsset)
{
    QFile resource(QStringLiteral(":/loading.gif"));
    ASSERT_TRUE(resource.open(QIODevice::ReadOnly));
    std::ifstream asset(VORNEL_ASSETS_DIR "/loading.gif", std::ios::binary);
    ASSERT_TRUE(asset.good());
    const std::string committed{std::istreambuf_iterator<char>(asset), std::istreambuf_iterator<char>()};
    EXPECT_TRUE(resource.readAll().toStdString() == committed);
}

TEST(LoadingOverlayOffscreen, CreatedHiddenFramelessWithItsDesignedLook)
{
    LoadingOverlay overlay;
    EXPECT_TRUE(overlay.isHidden());
    EXPECT_TRUE(overlay.isWindow());
    EXPECT_EQ(overlay.windowTitle(), QStringLiteral("Loading, please wait..."));
    EXPECT_TRUE(overlay.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(overlay.windowFlags() & Qt::WindowType_Mask, Qt::Tool);
    EXPECT_EQ(overlay.size(), QSize(543, 365));
    EXPECT_EQ(overlay.palette().color(QPalette::Window), QColor(0x2C, 0x2A, 0x26));
    EXPECT_FALSE(overlay.drawsOnItsOwnThread());
    EXPECT_EQ(overlay.framesDrawn(), 0u) << "nothing is drawn while hidden";
}

TEST(LoadingOverlayOffscreen, ShownOverThePlaylistItAnimatesAndShowsTheFrame)
{
    LoadingOverlay overlay;
    overlay.placeAt(QPoint(120, 80));
    overlay.resizeTo(QSize(439, 230));
    overlay.showOverlay();
    EXPECT_TRUE(overlay.isVisible());
    EXPECT_EQ(overlay.pos(), QPoint(120, 80));
    EXPECT_EQ(overlay.size(), QSize(439, 230));
    ASSERT_TRUE(runEventsUntil([&] { return overlay.framesDrawn() >= 6; }));

    const QImage shown = overlay.grab().toImage();
    ASSERT_EQ(shown.size(), QSize(439, 230));
    // The strips beside the picture show the background; the picture's ring and cat
    // (white) appear between x 8 and 407.
    EXPECT_EQ(QColor(shown.pixel(3, 100)), QColor(0x2C, 0x2A, 0x26));
    EXPECT_EQ(QColor(shown.pixel(420, 100)), QColor(0x2C, 0x2A, 0x26));
    int white = 0;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 8; x < 408; ++x)
            white += shown.pixel(x, y) == qRgb(255, 255, 255);
    EXPECT_GT(white, 500);
}

TEST(LoadingOverlayOffscreen, ClosedItRestsAndShownAgainItGoesOn)
{
    LoadingOverlay overlay;
    overlay.showOverlay();
    ASSERT_TRUE(runEventsUntil([&] { return overlay.framesDrawn() >= 2; }));
    overlay.closeOverlay();
    EXPECT_TRUE(overlay.isHidden());
    const uint64_t atClose = overlay.framesDrawn();
    runEventsUntil([] { return false; }, 300);
    EXPECT_EQ(overlay.framesDrawn(), atClose);
    overlay.showOverlay();
    EXPECT_TRUE(runEventsUntil([&] { return overlay.framesDrawn() >= atClose + 3; }));
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
