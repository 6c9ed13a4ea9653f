// Start-up: the audio library's version and device checks and their message boxes.
#include "window_fixture.h"

#include <QLineEdit>

using vornel::test::WindowTest;

namespace {
DWORD fakeVersion = 0;
DWORD reportVersion()
{
    return fakeVersion;
}
BOOL refuseInit(int, DWORD, DWORD, void*, const void*)
{
    return 0;
}
int driverError()
{
    return 3;
}
int negativeError()
{
    return -1;
}
} // namespace

TEST_F(WindowTest, AVersionOtherThan24StopsStartUpWithItsMessage)
{
    for (DWORD version : {0x02030000u, 0x02050000u, 0x00000000u}) {
        boxes.clear();
        fakeVersion = version;
        AudioStartup audio;
        audio.getVersion = reportVersion;
        window = std::make_unique<TfrmVornelPlayer>();
        EXPECT_FALSE(window->FormCreate(audio)) << std::hex << version;
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, "An incorrect version of BASS.DLL was loaded");
        EXPECT_EQ(boxes[0].icon, QMessageBox::Critical);
        EXPECT_TRUE(boxes[0].title.isEmpty());
        EXPECT_EQ(boxes[0].owner, nullptr);
        EXPECT_FALSE(window->isVisible());
        window.reset();
    }
}

TEST_F(WindowTest, AnyRevisionOf24StartsUp)
{
    for (DWORD version : {0x02040000u, 0x0204FFFFu, 0x02041100u}) {
        fakeVersion = version;
        AudioStartup audio;
        audio.getVersion = reportVersion;
        window = std::make_unique<TfrmVornelPlayer>();
        window->Timer1->stop();
        EXPECT_TRUE(window->FormCreate(audio)) << std::hex << version;
        window.reset();
    }
    EXPECT_TRUE(boxes.empty());
}

TEST_F(WindowTest, ADeviceThatCannotOpenShowsItsErrorCode)
{
    const std::pair<int (*)(), const char*> cases[] = {{driverError, "Can't initialize device\r\n(error code: 3)"},
                                                       {negativeError, "Can't initialize device\r\n(error code: -1)"}};
    for (const auto& [code, text] : cases) {
        boxes.clear();
        AudioStartup audio;
        audio.init = refuseInit;
        audio.errorCode = code;
        window = std::make_unique<TfrmVornelPlayer>();
        EXPECT_FALSE(window->FormCreate(audio));
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, text);
        EXPECT_EQ(boxes[0].icon, QMessageBox::NoIcon);
        EXPECT_TRUE(boxes[0].title.isEmpty());
        EXPECT_EQ(boxes[0].owner, window.get());
        window.reset();
    }
}

TEST_F(WindowTest, TheFolderFieldStartsAtTheDownloadsFolder)
{
    const QByteArray home = qgetenv("HOME");
    const QByteArray config = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", "/home/listener");
    qputenv("XDG_CONFIG_HOME", "/nonexistent-config-folder");
    TfrmVornelPlayer& w = createWindow();
    EXPECT_EQ(w.edit_dldir->text(), "/home/listener/Downloads/");
    qputenv("HOME", home);
    if (config.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", config);
}
