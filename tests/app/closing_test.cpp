// Closing the window breaks off whatever request runs on the window thread: the handler
// waiting in it returns, no box opens, nothing new starts and no file is left behind.
#include "window_fixture.h"

#include "tests/support/scripted_server.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <sstream>

using vornel::test::ConnectionScript;
using vornel::test::Millis;
using vornel::test::Route;
using vornel::test::ScriptedServer;
using vornel::test::WindowTest;

namespace {
// A reply whose head arrives at once and whose body of `size` bytes then trickles, a byte
// every 100 ms: minutes for any size used here.
ConnectionScript trickling(const std::string& contentType, size_t size)
{
    const std::string body(size, 'x');
    return ConnectionScript()
        .expectHead()
        .send("HTTP/1.1 200 OK\r\nContent-Type: " + contentType + "\r\nContent-Length: " + std::to_string(size) +
              "\r\n\r\n")
        .drip(body, 1, Millis(100));
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

void closeSoon(TfrmVornelPlayer& w)
{
    QTimer::singleShot(300, &w, [&w] { w.close(); });
}
} // namespace

TEST_F(WindowTest, ClosingDuringAResolutionEndsItWithoutABox)
{
    ScriptedServer server;
    server.addConnection(trickling("text/html", 3000));
    TfrmVornelPlayer& w = createWindow();
    setPlaylist({{server.url("/entry"), "entry"}, {server.url("/next"), "next"}}, 0);
    closeSoon(w);
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::ControlModifier);
    QCoreApplication::sendEvent(w.lb_PlayList, &enter);
    EXPECT_TRUE(boxes.empty()) << boxes.front().text.toStdString();
    EXPECT_TRUE(w.trackUrl.empty());
    EXPECT_EQ(w.lb_PlayList->item(0)->text(), "entry");
    EXPECT_TRUE(server.waitForFinishedConnections(1, Millis(60000))) << "the trickle was broken off";
    w.btn_TrackNextClick();
    w.Timer1Timer();
    EXPECT_EQ(server.requestHeads().size(), 1u) << "nothing new starts once closing";
}

// The load's first request, or the link extraction's own request, trickles when the window
// closes; either way the load ends with an empty playlist.
class ClosingDuringALoad : public WindowTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ClosingDuringALoad, EndsItWithAnEmptyPlaylist)
{
    const bool duringExtraction = GetParam();
    ScriptedServer server;
    if (duringExtraction)
        server.addConnection(ConnectionScript().reply200("<a href=\"http://files.example/1\">one</a>"));
    server.addConnection(trickling("text/html", 3000));
    TfrmVornelPlayer& w = createWindow();
    w.catalogueBase = server.url("/");
    w.fileHost = "files.example";
    closeSoon(w);
    w.Timer1Timer();
    EXPECT_EQ(w.lb_PlayList->count(), 0);
    EXPECT_EQ(w.linkUrls->size(), 0u);
    EXPECT_TRUE(server.waitForFinishedConnections(duringExtraction ? 2 : 1, Millis(60000)));
    EXPECT_EQ(server.requestHeads().size(), duringExtraction ? 2u : 1u);
    EXPECT_TRUE(boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(Request, ClosingDuringALoad, ::testing::Values(false, true),
                         [](const auto& test) { return test.param ? "OfTheLinkExtraction" : "OfThePageClient"; });

TEST_F(WindowTest, ClosingDuringADownloadLeavesTheOldFileAndNothingElse)
{
    QTemporaryDir folder;
    const std::string saved = folder.path().toStdString() + "/first.mp3";
    std::ofstream(saved) << "old";
    ScriptedServer server;
    server.addConnection(trickling("audio/mpeg", 3000));
    TfrmVornelPlayer& w = createWindow();
    w.edit_dldir->setText(folder.path());
    w.btn_Download->setEnabled(true);
    w.trackUrl = server.url("/first.mp3");
    w.label_currentTrack->setText("first");
    closeSoon(w);
    w.btn_DownloadClick();
    EXPECT_TRUE(server.waitForFinishedConnections(1, Millis(60000)));
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path().toStdString()))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"first.mp3"});
    EXPECT_EQ(readFile(saved), "old");
    EXPECT_TRUE(boxes.empty());
}
