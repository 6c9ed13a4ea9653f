// The program's choice of Qt platform and its desktop entry name, before the application.
#include "desktop/desktop_session.h"

#include "desktop_test_support.h"

#include <QGuiApplication>

using namespace vornel::desktop;

namespace {

struct PlatformCase {
    const char* name;
    const char* chosen;   // QT_QPA_PLATFORM before, nullptr: unset
    const char* expected; // after
};

class DesktopSessionTest : public testing::TestWithParam<PlatformCase> {};

TEST_P(DesktopSessionTest, AsksForX11UnlessTheUserChoseAPlatform)
{
    const ScopedEnv platform("QT_QPA_PLATFORM", GetParam().chosen);
    const ScopedEnv wayland("WAYLAND_DISPLAY", "wayland-vornel-test");
    prepareDesktopSession();
    EXPECT_EQ(qgetenv("QT_QPA_PLATFORM").toStdString(), GetParam().expected);
    EXPECT_EQ(QGuiApplication::desktopFileName(), QStringLiteral("vornelplayer"));
}

INSTANTIATE_TEST_SUITE_P(Platforms, DesktopSessionTest,
                         testing::Values(PlatformCase{"Unset", nullptr, "xcb"}, PlatformCase{"Empty", "", "xcb"},
                                         PlatformCase{"Wayland", "wayland", "wayland"},
                                         PlatformCase{"Offscreen", "offscreen", "offscreen"}),
                         [](const testing::TestParamInfo<PlatformCase>& test) { return std::string(test.param.name); });

} // namespace
