// Global shortcuts through the real xdg-desktop-portal frontend on a private session bus,
// in front of the test backend (portal_backend/), and the choice between portal and X11.
#include "desktop/global_hotkeys.h"
#include "desktop/global_shortcuts.h"
#include "desktop/portal_shortcuts.h"

#include "desktop_test_support.h"
#include "private_bus.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFile>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <vector>

using namespace vornel::desktop;

namespace {

const char* const kFrontend = "/usr/libexec/xdg-desktop-portal";
const QString kBackendName = QStringLiteral("org.freedesktop.impl.portal.desktop.vorneltest");

class PortalShortcutsTest : public testing::Test {
protected:
    void SetUp() override
    {
        SKIP_WITHOUT_X_SESSION();
        if (!std::filesystem::exists(kFrontend))
            GTEST_SKIP() << "xdg-desktop-portal is not installed (scripts/install-deps)";
        ASSERT_TRUE(bus.connected()) << "the private dbus-daemon did not start";
        record = bus.folder() + "/bound.txt";
        bus.start("", VORNEL_PORTAL_TEST_BACKEND, record);
        ASSERT_TRUE(runEventsUntil([&] { return bus.hasName(kBackendName); }));
        const std::string portals = bus.folder() + "/portals";
        std::filesystem::create_directory(portals);
        std::ofstream(portals + "/vorneltest.portal")
            << "[portal]\nDBusName=" << kBackendName.toStdString()
            << "\nInterfaces=org.freedesktop.impl.portal.GlobalShortcuts;\nUseIn=vorneltest\n";
        bus.start("XDG_DESKTOP_PORTAL_DIR=" + portals + " XDG_CURRENT_DESKTOP=vorneltest", kFrontend);
        ASSERT_TRUE(runEventsUntil([&] { return PortalShortcuts::offeredOn(bus.bus()); }, 15000))
            << "the portal frontend offers no GlobalShortcuts";
    }

    // The test backend presses a shortcut, as a desktop does when its trigger is typed.
    bool press(const QString& name)
    {
        QDBusMessage call =
            QDBusMessage::createMethodCall(kBackendName, QStringLiteral("/org/freedesktop/portal/desktop"),
                                           QStringLiteral("org.vornel.PortalTest"), QStringLiteral("Press"));
        call << name;
        const QDBusMessage reply = bus.bus().call(call, QDBus::Block, 5000);
        return reply.type() == QDBusMessage::ReplyMessage && reply.arguments().value(0).toBool();
    }

    std::map<std::string, std::string> boundTriggers() const
    {
        std::map<std::string, std::string> bound;
        std::ifstream in(record);
        std::string word, id, trigger, rest;
        while (in >> word >> id >> trigger && std::getline(in, rest))
            bound[id] = trigger;
        return bound;
    }

    PrivateBus bus;
    std::string record;
};

const std::vector<ShortcutRequest> kPlayerShortcuts = {
    {'D', QStringLiteral("download"), QStringLiteral("Save the current track")},
    {'W', QStringLiteral("next"), QStringLiteral("Play the next entry")},
    {'Q', QStringLiteral("previous"), QStringLiteral("Play the previous entry")},
    {'P', QStringLiteral("pause"), QStringLiteral("Pause, resume or play")},
};

TEST_F(PortalShortcutsTest, BindsEveryShortcutInOneSessionAndRunsTheOnePressed)
{
    PortalShortcuts shortcuts(bus.bus());
    std::vector<int32_t> pressed;
    shortcuts.onHotkey = [&](int32_t id) { pressed.push_back(id); };
    std::map<QString, int32_t> ids;
    for (const ShortcutRequest& request : kPlayerShortcuts)
        ids[request.name] = shortcuts.registerShortcut(request);
    EXPECT_EQ(ids.size(), 4u);

    ASSERT_TRUE(runEventsUntil([&] { return shortcuts.isBound(); }));
    const std::map<std::string, std::string> expected = {{"download", "CTRL+SHIFT+d"},
                                                         {"next", "CTRL+SHIFT+w"},
                                                         {"previous", "CTRL+SHIFT+q"},
                                                         {"pause", "CTRL+SHIFT+p"}};
    EXPECT_EQ(boundTriggers(), expected);

    ASSERT_TRUE(press(QStringLiteral("next")));
    ASSERT_TRUE(runEventsUntil([&] { return !pressed.empty(); }));
    ASSERT_TRUE(press(QStringLiteral("pause")));
    ASSERT_TRUE(press(QStringLiteral("no-such-shortcut")));
    EXPECT_TRUE(runEventsUntil([&] { return pressed.size() >= 2; }));
    processEventsFor(200);
    EXPECT_EQ(pressed, (std::vector<int32_t>{ids[QStringLiteral("next")], ids[QStringLiteral("pause")]}));
}

TEST_F(PortalShortcutsTest, AnUnregisteredShortcutNoLongerRuns)
{
    PortalShortcuts shortcuts(bus.bus());
    std::vector<int32_t> pressed;
    shortcuts.onHotkey = [&](int32_t id) { pressed.push_back(id); };
    const int32_t next = shortcuts.registerShortcut(kPlayerShortcuts[1]);
    const int32_t pause = shortcuts.registerShortcut(kPlayerShortcuts[3]);
    ASSERT_TRUE(runEventsUntil([&] { return shortcuts.isBound(); }));
    shortcuts.unregisterShortcut(next);
    ASSERT_TRUE(press(QStringLiteral("next")));
    ASSERT_TRUE(press(QStringLiteral("pause")));
    EXPECT_TRUE(runEventsUntil([&] { return !pressed.empty(); }));
    processEventsFor(200);
    EXPECT_EQ(pressed, std::vector<int32_t>{pause});
}

TEST_F(PortalShortcutsTest, AWaylandSessionWhosePortalOffersShortcutsUsesThePortal)
{
    const ScopedEnv wayland("WAYLAND_DISPLAY", "wayland-vornel-test");
    const std::unique_ptr<GlobalShortcuts> shortcuts = makeGlobalShortcuts(bus.bus());
    EXPECT_NE(dynamic_cast<PortalShortcuts*>(shortcuts.get()), nullptr);
}

struct SessionCase {
    const char* name;
    const char* waylandDisplay;
    const char* sessionType;
    bool wayland;
};

class WaylandSessionTest : public testing::TestWithParam<SessionCase> {};

TEST_P(WaylandSessionTest, IsToldByTheDisplayOrTheSessionType)
{
    const ScopedEnv display("WAYLAND_DISPLAY", GetParam().waylandDisplay);
    const ScopedEnv type("XDG_SESSION_TYPE", GetParam().sessionType);
    EXPECT_EQ(isWaylandSession(), GetParam().wayland);
}

INSTANTIATE_TEST_SUITE_P(Sessions, WaylandSessionTest,
                         testing::Values(SessionCase{"Neither", nullptr, nullptr, false},
                                         SessionCase{"X11Session", nullptr, "x11", false},
                                         SessionCase{"EmptyDisplayTty", "", "tty", false},
                                         SessionCase{"WaylandDisplay", "wayland-0", nullptr, true},
                                         SessionCase{"WaylandSessionType", nullptr, "wayland", true},
                                         SessionCase{"DisplayOutranksType", "wayland-1", "x11", true}),
                         [](const testing::TestParamInfo<SessionCase>& test) { return std::string(test.param.name); });

TEST(GlobalShortcutsChoice, WithoutASessionBusAWaylandSessionKeepsTheX11Grabs)
{
    SKIP_WITHOUT_X_SESSION();
    const ScopedEnv wayland("WAYLAND_DISPLAY", "wayland-vornel-test");
    // The test main points the session bus at a path where none listens.
    const std::unique_ptr<GlobalShortcuts> shortcuts = makeGlobalShortcuts(QDBusConnection::sessionBus());
    EXPECT_NE(dynamic_cast<GlobalHotkeys*>(shortcuts.get()), nullptr);
}

TEST(GlobalShortcutsChoice, ABusWithoutThePortalKeepsTheX11Grabs)
{
    SKIP_WITHOUT_X_SESSION();
    PrivateBus bus;
    ASSERT_TRUE(bus.connected());
    const ScopedEnv wayland("XDG_SESSION_TYPE", "wayland");
    const std::unique_ptr<GlobalShortcuts> shortcuts = makeGlobalShortcuts(bus.bus());
    EXPECT_NE(dynamic_cast<GlobalHotkeys*>(shortcuts.get()), nullptr);
}

} // namespace
