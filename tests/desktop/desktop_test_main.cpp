#include "desktop_test_support.h"
#include "tests/support/temp_folder.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

namespace {

vornel::test::XSession session;
bool sessionRunning = false;
std::string sessionProblem;

} // namespace

bool testSessionRunning()
{
    return sessionRunning;
}
const std::string& testSessionProblem()
{
    return sessionProblem;
}

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();

    sessionRunning = session.start(sessionProblem);
    std::unique_ptr<QApplication> app;
    std::optional<vornel::test::TempFolder> runtimeFolder;
    try {
        runtimeFolder.emplace("vornel-xdg");
        ::setenv("XDG_RUNTIME_DIR", runtimeFolder->path().c_str(), 1);
    } catch (const std::runtime_error&) {}
    if (sessionRunning) {
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        // Keep the icon on this display's XEmbed tray, not on a desktop's D-Bus panel.
        ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/vornel-test-bus", 1);
        app = std::make_unique<QApplication>(argc, argv);
    }
    const int result = RUN_ALL_TESTS();
    app.reset();
    return result;
}
