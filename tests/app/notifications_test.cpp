// The window's reactions to WM_PLAYER_NOTIFY.
#include "window_fixture.h"

#include "playback/player_notify.h"
#include "tests/support/scripted_server.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QTimer>

#include <atomic>
#include <thread>

using namespace vornel::playback;
using vornel::test::ScriptedServer;
using vornel::test::WindowTest;

namespace {
const QString marker = QString(QChar(0x25BA)) + " ";

void notifyText(TfrmVornelPlayer& w, uint32_t code, const std::string& text)
{
    w.WMPlayerNotify(code, reinterpret_cast<intptr_t>(text.c_str()));
}

size_t requestsFor(const ScriptedServer& server, const std::string& path)
{
    size_t count = 0;
    for (const std::string& head : server.requestHeads())
        if (head.rfind("GET " + path + " ", 0) == 0)
            ++count;
    return count;
}
} // namespace

TEST_F(WindowTest, ConnectingShowsItselfAndEmptiesTheStatus)
{
    TfrmVornelPlayer& w = createWindow();
    notifyText(w, PN_BITRATE, "bitrate: 128");
    w.WMPlayerNotify(PN_CONNECTING, 0);
    EXPECT_EQ(w.label_currentTrack->text(), "connecting...");
    EXPECT_TRUE(w.lbl_httpStatus->text().isEmpty());
}

TEST_F(WindowTest, BufferingSetsPreviousAndNextByTheSelection)
{
    TfrmVornelPlayer& w = createWindow();
    struct Case {
        int entries;
        int selected;
        bool previous;
        bool next;
    };
    const Case cases[] = {{3, 0, false, true},  {3, 2, true, false},   {3, 1, true, true},
                          {1, 0, false, false}, {0, -1, false, false}, {3, -1, false, true}};
    for (const Case& c : cases) {
        std::vector<std::pair<std::string, QString>> entries;
        for (int i = 0; i < c.entries; ++i)
            entries.emplace_back("http://127.0.0.1:1/" + std::to_string(i), QString("entry %1").arg(i));
        setPlaylist(entries, c.selected);
        w.WMPlayerNotify(PN_BUFFERING, 42);
        EXPECT_EQ(w.btn_TrackPrev->isEnabled(), c.previous) << c.entries << " entries, selected " << c.selected;
        EXPECT_EQ(w.btn_TrackNext->isEnabled(), c.next) << c.entries << " entries, selected " << c.selected;
        EXPECT_EQ(w.label_currentTrack->text(), "buffering... 42%");
    }
}

TEST_F(WindowTest, BufferingShowsThePercentageAsASignedNumber)
{
    TfrmVornelPlayer& w = createWindow();
    const std::pair<intptr_t, const char*> cases[] = {
        {0, "buffering... 0%"}, {76, "buffering... 76%"}, {100, "buffering... 100%"}, {-3, "buffering... -3%"}};
    for (const auto& [value, text] : cases) {
        w.WMPlayerNotify(PN_BUFFERING, value);
        EXPECT_EQ(w.label_currentTrack->text(), text);
    }
}

TEST_F(WindowTest, PlayingMarksTheSelectedEntryOnce)
{
    TfrmVornelPlayer& w = createWindow();
    setPlaylist({{"http://127.0.0.1:1/a", "First & best"}, {"http://127.0.0.1:1/b", "Second"}}, 0);
    w.WMPlayerNotify(PN_PLAYING, 0);
    w.WMPlayerNotify(PN_PLAYING, 0);
    EXPECT_EQ(w.lb_PlayList->item(0)->text(), marker + "First & best");
    EXPECT_EQ(w.lb_PlayList->item(1)->text(), "Second");
    EXPECT_EQ(w.label_currentTrack->text(), marker + "First & best");
    EXPECT_TRUE(w.btn_Download->isEnabled());
    EXPECT_TRUE(w.sTrackBar1->isEnabled());
    EXPECT_TRUE(w.Timer2->isActive());
}

TEST_F(WindowTest, PlayingLeavesAnEntryThatHoldsTheMarkerCharacterAlone)
{
    TfrmVornelPlayer& w = createWindow();
    const QString text = "Live " + QString(QChar(0x25BA)) + " encore";
    setPlaylist({{"http://127.0.0.1:1/a", text}}, 0);
    const std::string name = "Station name";
    notifyText(w, PN_PLAYING, name);
    EXPECT_EQ(w.lb_PlayList->item(0)->text(), text);
    EXPECT_EQ(w.label_currentTrack->text(), text);
}

TEST_F(WindowTest, PlayingWithoutASelectionMarksNothing)
{
    TfrmVornelPlayer& w = createWindow();
    w.WMPlayerNotify(PN_PLAYING, 0);
    EXPECT_EQ(w.label_currentTrack->text(), "playing");
    EXPECT_TRUE(w.btn_Download->isEnabled());
    EXPECT_TRUE(w.Timer2->isActive());
}

TEST_F(WindowTest, BitrateGoesToTheStatusLabel)
{
    TfrmVornelPlayer& w = createWindow();
    notifyText(w, PN_BITRATE, "bitrate:  64");
    EXPECT_EQ(w.lbl_httpStatus->text(), "bitrate:  64");
}

TEST_F(WindowTest, StatusWith404MovesOnToTheNextEntry)
{
    ScriptedServer server;
    server.addRoute("/b", {"<html>no snippet</html>", "text/html"});
    TfrmVornelPlayer& w = createWindow();
    const std::vector<std::pair<std::string, const char*>> statuses = {
        {"HTTP/1.1 404 Not Found", "moves"},
        {"HTTP/1.1 200 OK\r\nX-Note: 404 elsewhere", "moves"},
    };
    for (const auto& [status, what] : statuses) {
        setPlaylist({{server.url("/a"), "a"}, {server.url("/b"), "b"}, {server.url("/c"), "c"}}, 0);
        const size_t before = requestsFor(server, "/b");
        notifyText(w, PN_HTTP_STATUS, status);
        EXPECT_EQ(w.lbl_httpStatus->text().toStdString(), status);
        EXPECT_EQ(requestsFor(server, "/b"), before + 1) << status;
        EXPECT_EQ(w.lb_PlayList->item(0)->text(), "a");
    }
}

TEST_F(WindowTest, StatusWithout404OrAtTheLastEntryOnlyChangesTheLabel)
{
    ScriptedServer server;
    TfrmVornelPlayer& w = createWindow();
    setPlaylist({{server.url("/a"), "a"}, {server.url("/b"), "b"}}, 0);
    notifyText(w, PN_HTTP_STATUS, "HTTP/1.1 200 OK");
    EXPECT_EQ(w.lbl_httpStatus->text(), "HTTP/1.1 200 OK");
    EXPECT_EQ(w.lb_PlayList->currentRow(), 0);
    w.lb_PlayList->setCurrentRow(1);
    notifyText(w, PN_HTTP_STATUS, "HTTP/1.1 404 Not Found");
    EXPECT_EQ(w.lbl_httpStatus->text(), "HTTP/1.1 404 Not Found");
    EXPECT_EQ(w.lb_PlayList->currentRow(), 1);
    EXPECT_EQ(server.requestHeads().size(), 0u);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(WindowTest, UnknownCodesChangeNothing)
{
    TfrmVornelPlayer& w = createWindow();
    setPlaylist({{"http://127.0.0.1:1/a", "a"}, {"http://127.0.0.1:1/b", "b"}}, 0);
    const std::string text = "HTTP/1.1 404 Not Found";
    for (uint32_t code : {5u, 6u, 7u, 9u, 10u, 1125u, 0xFFFFFFFFu}) {
        w.WMPlayerNotify(code, reinterpret_cast<intptr_t>(text.c_str()));
        EXPECT_EQ(w.label_currentTrack->text(), "not playing") << code;
        EXPECT_TRUE(w.lbl_httpStatus->text().isEmpty()) << code;
        EXPECT_EQ(w.lb_PlayList->currentRow(), 0) << code;
        EXPECT_EQ(w.lb_PlayList->item(0)->text(), "a") << code;
        EXPECT_FALSE(w.btn_Download->isEnabled()) << code;
        EXPECT_FALSE(w.btn_TrackPrev->isEnabled()) << code;
        EXPECT_FALSE(w.Timer2->isActive()) << code;
    }
}

TEST_F(WindowTest, OpenFailureRetriesTheSelectedEntryAfterAGrowingDelay)
{
    ScriptedServer server;
    server.addRoute("/page", {"<html>no snippet here</html>", "text/html"});
    TfrmVornelPlayer& w = createWindow();
    setPlaylist({{server.url("/page"), "only"}}, 0);
    w.WMPlayerNotify(PN_OPEN_FAILED, 2);
    EXPECT_EQ(w.label_currentTrack->text(), "not playing");
    EXPECT_EQ(server.requestHeads().size(), 0u) << "no retry in the same breath";
    EXPECT_TRUE(vornel::test::runEventsUntil([&] { return server.requestHeads().size() == 1; }, 5000));
    EXPECT_EQ(w.lb_PlayList->item(0)->text(), QString(QChar(0x2020)) + "  only");

    std::vector<int> delays;
    delays.push_back(w.openRetryDelayMs());
    for (int i = 0; i < 6; ++i) {
        w.WMPlayerNotify(PN_OPEN_FAILED, 2);
        delays.push_back(w.openRetryDelayMs());
    }
    EXPECT_EQ(delays, (std::vector<int>{500, 1000, 2000, 4000, 5000, 5000, 5000}));
    w.WMPlayerNotify(PN_PLAYING, 0);
    w.WMPlayerNotify(PN_OPEN_FAILED, 2);
    EXPECT_EQ(w.openRetryDelayMs(), 500) << "a stream that played starts the count again";
}

TEST_F(WindowTest, AReportFromAnotherThreadWaitsUntilTheWindowReacted)
{
    TfrmVornelPlayer& w = createWindow();
    std::atomic<bool> returned{false};
    std::thread sender([&] {
        const std::string status = "HTTP/1.1 200 OK";
        sendPlayerNotify(PN_HTTP_STATUS, reinterpret_cast<intptr_t>(status.c_str()));
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(returned) << "the sender is held until the window thread handles the report";
    EXPECT_TRUE(vornel::test::runEventsUntil([&] { return returned.load(); }, 5000));
    sender.join();
    EXPECT_EQ(w.lbl_httpStatus->text(), "HTTP/1.1 200 OK");
}
