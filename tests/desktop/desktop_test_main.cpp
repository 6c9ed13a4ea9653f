#include "x_session.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace {

XSession session;
bool sessionRunning = false;
std::string sessionProblem;

} // namespace

XSession& testSession()
{
    return session;
}
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
    std::string runtimeFolder = (std::filesystem::temp_directory_path() / "vornel-xdg-XXXXXX").string();
    const bool ownRuntimeFolder = ::mkdtemp(runtimeFolder.data()) != nullptr;
    if (ownRuntimeFolder)
        ::setenv("XDG_RUNTIME_DIR", runtimeFolder.c_str(), 1);
    if (sessionRunning) {
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        // Keep the icon on this display's XEmbed tray, not on a desktop's D-Bus panel.
        ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/vornel-test-bus", 1);
        app = std::make_unique<QApplication>(argc, argv);
    }
    const int result = RUN_ALL_TESTS();
    app.reset();
    if (ownRuntimeFolder)
        std::filesystem::remove_all(runtimeFolder);
    return result;
}
