// Track resolution from the window: dead entries, the snippet, failures, Enter.
#include "window_fixture.h"

#include "tests/support/mp3_fixture.h"
#include "tests/support/scripted_server.h"

#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>

using vornel::test::Route;
using vornel::test::ScriptedServer;
using vornel::test::WindowTest;

namespace {
const QString dead = QString(QChar(0x2020)) + "  ";

Route page(const std::string& text)
{
    return Route{text, "text/html"};
}

void pressEnter(QWidget* target, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, modifiers);
    QCoreApplication::sendEvent(target, &press);
}
} // namespace

TEST_F(WindowTest, ResolutionWithoutASelectionOrEntriesDoesNothing)
{
    ScriptedServer server;
    TfrmVornelPlayer& w = createWindow();
    w.lb_PlayListDblClick();
    setPlaylist({{server.url("/a"), "a"}}, -1);
    w.lb_PlayListDblClick();
    EXPECT_EQ(server.requestHeads().size(), 0u);
    EXPECT_TRUE(w.trackUrl.empty());
    EXPECT_EQ(w.lb_PlayList->item(0)->text(), "a");
}

TEST_F(WindowTest, ResolutionRecordsTheAudioUrlAndStartsItsStream)
{
    ScriptedServer server;
    server.addRoute("/tone.mp3", Route{vornel::test::makeToneMp3({.seconds = 2}), "audio/mpeg"});
    server.addRoute("/entry", page("<p>{mp3:\" " + server.url("/tone.mp3") + "\"}</p>"));
    TfrmVornelPlayer& w = createWindow();
    setPlaylist({{server.url("/entry"), "Tone"}}, 0);
    w.lb_PlayListDblClick();
    EXPECT_EQ(w.trackUrl, server.url("/tone.mp3"));
    ASSERT_TRUE(vornel::test::runEventsUntil([&] { return w.label_currentTrack->text().endsWith("Tone"); }));
    EXPECT_EQ(w.lb_PlayList->item(0)->text(), QString(QChar(0x25BA)) + " Tone");
    EXPECT_TRUE(boxes.empty());
}

TEST_F(WindowTest, DeadEntriesAreMarkedAndSkippedUpToALiveOne)
{
    ScriptedServer server;
    server.addRoute("/tone.mp3", Route{vornel::test::makeToneMp3({.seconds = 2}), "audio/mpeg"});
    server.addRoute("/dead1", page("no snippet"));
    server.addRoute("/dead2", page("{MP3:\"http://x/a.mp3\"}"));
    server.addRoute("/live", page("{mp3:\"" + server.url("/tone.mp3") + "\"}"));
    TfrmVornelPlayer& w = createWindow();
    setPlaylist({{server.url("/dead1"), "one"}, {server.url("/dead2"), "two"}, {server.url("/live"), "three"}}, 0);
    w.lb_PlayListDblClick();
    EXPECT_EQ(w.lb_PlayList->item(0)->text(), dead + "one");
    EXPECT_EQ(w.lb_PlayList->item(1)->text(), dead + "two");
    EXPECT_EQ(w.lb_PlayList->currentRow(), 2);
    EXPECT_EQ(w.trackUrl, server.url("/tone.mp3"));
}

TEST_F(WindowTest, TheLastDeadEntryStaysSelectedAndGetsAMarkEachTime)
{
    ScriptedServer server;
    TfrmVornelPlayer& w = createWindow();
    w.trackUrl = "http://127.0.0.1:1/earlier.mp3";
    setPlaylist({{server.url("/a"), "a"}, {server.url("/b"), "b"}}, 1);
    w.lb_PlayListDblClick();
    w.lb_PlayListDblClick();
    EXPECT_EQ(w.lb_PlayList->item(1)->text(), dead + dead + "b");
    EXPECT_EQ(w.lb_PlayList->item(0)->text(), "a");
    EXPECT_EQ(w.lb_PlayList->currentRow(), 1);
    EXPECT_EQ(w.trackUrl, "http://127.0.0.1:1/earlier.mp3") << "a dead entry leaves the track URL";
}

TEST_F(WindowTest, TenThousandDeadEntriesAreWalkedWithoutNesting)
{
    ScriptedServer server;
    server.addRoute("/dead", page("")); // an empty page: no snippet
    TfrmVornelPlayer& w = createWindow();
    std::vector<std::pair<std::string, QString>> entries;
    for (int i = 0; i < 10000; ++i)
        entries.emplace_back(server.url("/dead?entry=" + std::to_string(i)), QString::number(i));
    setPlaylist(entries, 0);
    w.lb_PlayListDblClick();
    EXPECT_EQ(w.lb_PlayList->currentRow(), 9999);
    for (int i : {0, 1, 5000, 9998, 9999})
        EXPECT_EQ(w.lb_PlayList->item(i)->text(), dead + QString::number(i));
    EXPECT_EQ(server.requestHeads().size(), 10000u);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(WindowTest, ClosingMarkerBeforeTheOpeningOneStartsAnEmptyUrl)
{
    ScriptedServer server;
    server.addRoute("/odd", page("mp3\"} and later {mp3:\"http://x/a.mp3"));
    TfrmVornelPlayer& w = createWindow();
    w.trackUrl = "http://127.0.0.1:1/earlier.mp3";
    setPlaylist({{server.url("/odd"), "odd"}}, 0);
    w.lb_PlayListDblClick();
    EXPECT_EQ(w.trackUrl, "");
    // The worker's open fails; the window says so and retries later.
    EXPECT_TRUE(vornel::test::runEventsUntil([&] { return w.label_currentTrack->text() == "not playing"; }));
    EXPECT_EQ(w.lb_PlayList->item(0)->text(), "odd");
}

TEST_F(WindowTest, AFailedPageRequestGoesToTheErrorReport)
{
    int closedPort;
    {
        ScriptedServer gone;
        closedPort = gone.port();
    }
    TfrmVornelPlayer& w = createWindow();
    w.trackUrl = "http://127.0.0.1:1/earlier.mp3";
    const std::string url = "http://127.0.0.1:" + std::to_string(closedPort) + "/entry";
    setPlaylist({{url, "entry"}, {url, "next"}}, 0);
    pressEnter(w.lb_PlayList); // an event entry point: the failure is reported there
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, "VornelPlayer");
    EXPECT_EQ(boxes[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(boxes[0].text.contains("10061")) << boxes[0].text.toStdString();
    EXPECT_TRUE(boxes[0].text.endsWith(".")) << boxes[0].text.toStdString();
    EXPECT_EQ(w.lb_PlayList->item(0)->text(), "entry");
    EXPECT_EQ(w.lb_PlayList->currentRow(), 0);
    EXPECT_EQ(w.trackUrl, "http://127.0.0.1:1/earlier.mp3");
}

TEST_F(WindowTest, EnterInThePlaylistResolvesUntilATrackHasPlayed)
{
    ScriptedServer server;
    TfrmVornelPlayer& w = createWindow();
    setPlaylist({{server.url("/a"), "a"}, {server.url("/b"), "b"}}, 0);
    pressEnter(w.lb_PlayList);
    EXPECT_EQ(server.requestHeads().size(), 2u) << "a resolved (dead), then b";

    // Once Download is enabled a plain Enter saves instead; Ctrl+Enter still resolves.
    w.btn_Download->setEnabled(true);
    setPlaylist({{server.url("/a"), "a"}, {server.url("/b"), "b"}}, 1);
    pressEnter(w.lb_PlayList);
    EXPECT_EQ(server.requestHeads().size(), 2u);
    EXPECT_EQ(w.lb_PlayList->item(1)->text(), "b");
    pressEnter(w.lb_PlayList, Qt::ControlModifier);
    EXPECT_EQ(server.requestHeads().size(), 3u);
    EXPECT_EQ(w.lb_PlayList->item(1)->text(), dead + "b");
    w.btn_Download->hide();
    pressEnter(w.lb_PlayList);
    EXPECT_EQ(server.requestHeads().size(), 4u) << "a hidden Download button lets Enter through";
}

TEST_F(WindowTest, OnlyTheLeftButtonsDoubleClickResolvesTheEntry)
{
    ScriptedServer server;
    server.addRoute("/entry", page("<p>no snippet</p>"));
    TfrmVornelPlayer& w = createWindow();
    setPlaylist({{server.url("/entry"), "Entry"}}, 0);
    const struct {
        Qt::MouseButton button;
        size_t requestsAfter;
    } cases[] = {{Qt::RightButton, 0}, {Qt::MiddleButton, 0}, {Qt::LeftButton, 1}};
    for (const auto& c : cases) {
        const QPointF at(5, 5);
        QMouseEvent click(QEvent::MouseButtonDblClick, at, w.lb_PlayList->viewport()->mapToGlobal(at), c.button,
                          c.button, Qt::NoModifier);
        QCoreApplication::sendEvent(w.lb_PlayList->viewport(), &click);
        EXPECT_EQ(server.requestHeads().size(), c.requestsAfter) << "button " << c.button;
    }
}
