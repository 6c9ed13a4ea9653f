// Entries asked for while the page client is busy: the newest one wins, no box opens, and
// a page load asked for meanwhile runs once the client is free.
#include "window_fixture.h"

#include "tests/support/scripted_server.h"

#include <QKeyEvent>
#include <QListWidget>
#include <QTimer>

using vornel::test::ConnectionScript;
using vornel::test::Millis;
using vornel::test::Route;
using vornel::test::ScriptedServer;
using vornel::test::WindowTest;

namespace {
const QString dead = QString(QChar(0x2020)) + "  ";

// The pages requested, in order (the streams' own requests for the audio left out).
std::vector<std::string> requestedPages(const ScriptedServer& server)
{
    std::vector<std::string> targets;
    for (const std::string& head : server.requestHeads()) {
        const size_t start = head.find(' ') + 1;
        const std::string target = head.substr(start, head.find(' ', start) - start);
        if (!target.ends_with(".mp3"))
            targets.push_back(target);
    }
    return targets;
}

std::string entryPage(const ScriptedServer& server, int entry)
{
    return "<p>{mp3:\"" + server.url("/tone-" + std::to_string(entry) + ".mp3") + "\"}</p>";
}

// Enter in the playlist, as the window's key filter passes it on (failures go to the report).
void pressEnter(QWidget* playlist)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::ControlModifier);
    QCoreApplication::sendEvent(playlist, &press);
}

// A reply after which the server closes the connection, saying so: the next request must
// not race the close on a connection it thought kept open.
std::string closingReply(const std::string& body)
{
    return "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

struct SlowFirstEntry {
    const char* name;
    ConnectionScript script; // the first entry's page, which takes 400 ms
    bool markedDead;
};

void PrintTo(const SlowFirstEntry& entry, std::ostream* out)
{
    *out << entry.name;
}

class NewestWishTest : public WindowTest, public ::testing::WithParamInterface<SlowFirstEntry> {};

// Five presses of the Next hot key while the first entry's page loads move the selection
// five entries on; only that entry is read next, and nothing fails in between.
TEST_P(NewestWishTest, PressesDuringAResolutionEndOnTheNewestEntryWithoutABox)
{
    ScriptedServer server;
    server.addConnection(GetParam().script);
    std::vector<std::pair<std::string, QString>> entries;
    for (int i = 0; i < 10; ++i) {
        const std::string target = "/entry?n=" + std::to_string(i);
        server.addRoute(target, Route{entryPage(server, i), "text/html"});
        entries.emplace_back(server.url(target), QString::number(i));
    }
    TfrmVornelPlayer& w = createWindow();
    setPlaylist(entries, 0);
    QTimer::singleShot(100, &w, [&] {
        for (int press = 0; press < 5; ++press)
            w.hotkeys->onHotkey(w.hotkey2);
    });
    pressEnter(w.lb_PlayList);
    EXPECT_TRUE(boxes.empty()) << boxes.front().text.toStdString();
    EXPECT_EQ(requestedPages(server), (std::vector<std::string>{"/entry?n=0", "/entry?n=5"}));
    EXPECT_EQ(w.lb_PlayList->currentRow(), 5);
    EXPECT_EQ(w.trackUrl, server.url("/tone-5.mp3"));
    EXPECT_EQ(w.lb_PlayList->item(0)->text(), GetParam().markedDead ? dead + "0" : "0");
    EXPECT_EQ(w.lb_PlayList->item(5)->text(), "5");
}

INSTANTIATE_TEST_SUITE_P(
    FirstEntry, NewestWishTest,
    ::testing::Values(SlowFirstEntry{"Fails", ConnectionScript().expectHead().wait(Millis(400)).reset(), false},
                      SlowFirstEntry{"IsDead",
                                     ConnectionScript().expectHead().wait(Millis(400)).send(closingReply("no snippet")),
                                     true}),
    [](const auto& test) { return std::string(test.param.name); });

// A paging click while an entry's page loads: the page client is busy, so the load waits for it.
TEST_F(WindowTest, APageLoadAskedForDuringAResolutionRunsAfterIt)
{
    ScriptedServer server;
    server.addConnection(ConnectionScript().expectHead().wait(Millis(400)).send(closingReply(entryPage(server, 0))));
    server.addRoute("/cat/", Route{"<a href=\"http://files.example/x\">x</a><a href=\"/other\">y</a>", "text/html"});
    TfrmVornelPlayer& w = createWindow();
    w.catalogueBase = server.url("/cat/");
    w.fileHost = "files.example";
    setPlaylist({{server.url("/entry"), "entry"}}, 0);
    QTimer::singleShot(100, &w, [&] { w.Button2Click(); });
    pressEnter(w.lb_PlayList);
    EXPECT_EQ(w.trackUrl, server.url("/tone-0.mp3"));
    ASSERT_TRUE(vornel::test::runEventsUntil([&] { return w.lb_PlayList->count() == 1 && !w.Timer1->isActive(); }));
    EXPECT_EQ(w.lb_PlayList->item(0)->text(), "x");
    EXPECT_EQ(requestedPages(server), (std::vector<std::string>{"/entry", "/cat/", "/cat/"}));
    EXPECT_TRUE(boxes.empty());
}

} // namespace
