// Global shortcuts through the real xdg-desktop-portal frontend on a private session bus,
// in front of the test backend (portal_backend/), and the choice between portal and X11.
#include "desktop/global_hotkeys.h"
#include "desktop/global_shortcuts.h"
#include "desktop/portal_shortcuts.h"

#include "desktop_test_support.h"

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

namespace {

const char* const kFrontend = "/usr/libexec/xdg-desktop-portal";
const QString kBackendName = QStringLiteral("org.freedesktop.impl.portal.desktop.vorneltest");

// Sets an environment variable for one scope and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value != nullptr)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

// A session bus of the test's own, without service activation, and a connection to it.
class PrivateBus {
public:
    PrivateBus()
    {
        std::string folder = (std::filesystem::temp_directory_path() / "vornel-bus-XXXXXX").string();
        if (::mkdtemp(folder.data()) == nullptr)
            return;
        folder_ = folder;
        address_ = "unix:path=" + folder_ + "/bus";
        std::ofstream(folder_ + "/bus.conf")
            << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig><type>session</type><listen>" << address_ << "</listen><auth>EXTERNAL</auth>"
               "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
               "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
        daemon_ = startProgram("dbus-daemon", "--config-file=" + folder_ + "/bus.conf --nofork --nopidfile");
        // The socket file appears a moment before the daemon listens on it.
        runEventsUntil([&] { return connect(); }, 10000);
    }

    ~PrivateBus()
    {
        for (auto it = programs_.rbegin(); it != programs_.rend(); ++it)
            stopProgram(*it);
        QDBusConnection::disconnectFromBus(QStringLiteral("vornel-test"));
        stopProgram(daemon_);
        if (!folder_.empty())
            std::filesystem::remove_all(folder_);
    }

    bool connected() const { return connection_ && connection_->isConnected(); }

    bool connect()
    {
        connection_.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("vornel-test"));
        connection_ = QDBusConnection::connectToBus(QString::fromStdString(address_), QStringLiteral("vornel-test"));
        return connected();
    }
    QDBusConnection& bus() { return *connection_; }
    const std::string& folder() const { return folder_; }

    // Runs a program with this bus as its session bus.
    void start(const std::string& environment, const std::string& program, const std::string& arguments = "")
    {
        programs_.push_back(
            startProgram("env DBUS_SESSION_BUS_ADDRESS=" + address_ + " " + environment + " " + program, arguments));
    }

    bool hasName(const QString& name) { return bus().interface()->isServiceRegistered(name).value(); }

private:
    std::string folder_;
    std::string address_;
    pid_t daemon_ = -1;
    std::vector<pid_t> programs_;
    std::optional<QDBusConnection> connection_;
};

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
        QDBusMessage call = QDBusMessage::createMethodCall(kBackendName, QStringLiteral("/org/freedesktop/portal/desktop"),
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
    const std::map<std::string, std::string> expected = {{"download", "CTRL+SHIFT+d"}, {"next", "CTRL+SHIFT+w"},
                                                         {"previous", "CTRL+SHIFT+q"}, {"pause", "CTRL+SHIFT+p"}};
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
                         [](const testing::TestParamInfo<SessionCase>& info) { return std::string(info.param.name); });

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
