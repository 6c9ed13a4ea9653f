// Saving the current track from the window.
#include "window_fixture.h"

#include "tests/support/scripted_server.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <sstream>

using vornel::test::ConnectionScript;
using vornel::test::Route;
using vornel::test::ScriptedServer;
using vornel::test::WindowTest;

namespace {
std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

class DownloadTest : public WindowTest {
protected:
    TfrmVornelPlayer& createDownloadWindow()
    {
        TfrmVornelPlayer& w = createWindow();
        w.edit_dldir->setText(folder.path());
        w.btn_Download->setEnabled(true);
        return w;
    }

    std::vector<std::string> savedFiles() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder.path().toStdString()))
            names.push_back(entry.path().filename().string());
        return names;
    }

    void expectIdleControls() const
    {
        EXPECT_FALSE(window->btn_Download->isHidden());
        EXPECT_TRUE(window->sProgressBar1->isHidden());
        EXPECT_EQ(window->sProgressBar1->value(), 0);
    }

    QTemporaryDir folder;
    ScriptedServer server;
};
} // namespace

TEST_F(DownloadTest, SavesTheTrackUnderTheSanitisedCaption)
{
    const std::string bytes(200000, 'x');
    server.addRoute("/t.mp3", Route{bytes, "audio/mpeg"});
    TfrmVornelPlayer& w = createDownloadWindow();
    w.trackUrl = server.url("/t.mp3");
    const QString caption = QString(QChar(0x25BA)) + " Band: Live / Tonight?";
    w.label_currentTrack->setText(caption);
    std::vector<int> positions;
    QObject::connect(w.sProgressBar1, &QProgressBar::valueChanged, [&](int value) { positions.push_back(value); });
    w.btn_DownloadClick();
    const std::string name = (QString(QChar(0x25BA)) + " Band Live Tonight.mp3").toStdString();
    EXPECT_EQ(savedFiles(), (std::vector<std::string>{name}));
    EXPECT_EQ(readFile(folder.path().toStdString() + "/" + name), bytes);
    ASSERT_FALSE(positions.empty());
    EXPECT_EQ(positions.back(), 0) << "reset at the end";
    EXPECT_NE(std::find(positions.begin(), positions.end(), 100), positions.end());
    expectIdleControls();
}

TEST_F(DownloadTest, ATrackLabelledAsAPageLargerThanAnyPageIsSavedWhole)
{
    // Download scripts often call audio text/html; a page body would be bounded at 32 MiB.
    std::string bytes(40 * 1024 * 1024, 'x');
    bytes.replace(0, 6, "<html>");
    server.addRoute("/get.php", Route{bytes, "text/html"});
    TfrmVornelPlayer& w = createDownloadWindow();
    w.trackUrl = server.url("/get.php");
    w.label_currentTrack->setText("Big");
    w.btn_DownloadClick();
    EXPECT_EQ(savedFiles(), (std::vector<std::string>{"Big.mp3"}));
    EXPECT_EQ(std::filesystem::file_size(folder.path().toStdString() + "/Big.mp3"), bytes.size());
    expectIdleControls();
}

TEST_F(DownloadTest, NothingHappensWithoutATrackUrl)
{
    TfrmVornelPlayer& w = createDownloadWindow();
    w.label_currentTrack->setText("x");
    w.btn_DownloadClick();
    w.WMHotKey(w.hotkey1);
    EXPECT_TRUE(savedFiles().empty());
    EXPECT_TRUE(boxes.empty());
    expectIdleControls();
}

TEST_F(DownloadTest, AnErrorReplyWritesNothing)
{
    TfrmVornelPlayer& w = createDownloadWindow();
    w.trackUrl = server.url("/missing.mp3");
    w.label_currentTrack->setText("gone");
    w.btn_DownloadClick();
    EXPECT_EQ(server.requestHeads().size(), 1u);
    EXPECT_TRUE(savedFiles().empty());
    expectIdleControls();
}

TEST_F(DownloadTest, AnEmptyFileNameGoesToTheErrorReport)
{
    TfrmVornelPlayer& w = createDownloadWindow();
    w.trackUrl = server.url("/t.mp3");
    const std::pair<QString, QString> cases[] = {{"", "Resulting FileName was empty Input string was: "},
                                                 {"???", "Resulting FileName was empty Input string was: ???."}};
    for (const auto& [caption, text] : cases) {
        boxes.clear();
        w.label_currentTrack->setText(caption);
        QPushButton* button = w.btn_Download;
        QMetaObject::invokeMethod(button, "click"); // through the event binding
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, text);
        EXPECT_EQ(boxes[0].title, "VornelPlayer");
        expectIdleControls();
    }
    EXPECT_EQ(server.requestHeads().size(), 0u);
}

TEST_F(DownloadTest, AFailedRequestOrFolderIsDroppedSilently)
{
    const std::string bytes(1000, 'y');
    server.addRoute("/t.mp3", Route{bytes, "audio/mpeg"});
    TfrmVornelPlayer& w = createDownloadWindow();
    w.label_currentTrack->setText("song");
    w.trackUrl = "http://127.0.0.1:1/t.mp3";
    w.btn_DownloadClick();
    expectIdleControls();
    w.trackUrl = server.url("/t.mp3");
    // A folder that cannot be made: a file stands in its way.
    std::ofstream(folder.path().toStdString() + "/file") << "in the way";
    w.edit_dldir->setText(folder.path() + "/file/folder");
    w.btn_DownloadClick();
    expectIdleControls();
    EXPECT_EQ(savedFiles(), std::vector<std::string>{"file"});
    EXPECT_TRUE(boxes.empty());
}

TEST_F(DownloadTest, AMissingDownloadFolderIsMadeBeforeTheSave)
{
    const std::string bytes(1000, 'y');
    server.addRoute("/t.mp3", Route{bytes, "audio/mpeg"});
    TfrmVornelPlayer& w = createDownloadWindow();
    w.label_currentTrack->setText("song");
    w.trackUrl = server.url("/t.mp3");
    w.edit_dldir->setText(folder.path() + "/fresh account/Downloads/");
    w.btn_DownloadClick();
    expectIdleControls();
    EXPECT_EQ(readFile(folder.path().toStdString() + "/fresh account/Downloads/song.mp3"), bytes);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(DownloadTest, ASecondDownloadWhileOneRunsIsRefused)
{
    const std::string bytes(40000, 'z');
    server.addConnection(ConnectionScript()
                             .expectHead()
                             .send("HTTP/1.1 200 OK\r\nContent-Length: 40000\r\n\r\n")
                             .drip(bytes, 4000, std::chrono::milliseconds(40)));
    TfrmVornelPlayer& w = createDownloadWindow();
    w.trackUrl = server.url("/slow.mp3");
    w.label_currentTrack->setText("first");
    bool barShownDuringTransfer = false;
    QTimer::singleShot(120, &w, [&] {
        barShownDuringTransfer = !w.sProgressBar1->isHidden() && w.btn_Download->isHidden();
        w.label_currentTrack->setText("second");
        w.WMHotKey(w.hotkey1);
    });
    w.btn_DownloadClick();
    EXPECT_TRUE(barShownDuringTransfer);
    EXPECT_EQ(server.requestHeads().size(), 1u);
    EXPECT_EQ(savedFiles(), (std::vector<std::string>{"first.mp3"}));
    expectIdleControls();
}
