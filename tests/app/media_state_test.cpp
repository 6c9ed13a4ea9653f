// What the desktop sees of the playing track: its title and artist, an id of its own for
// each start, the tray tooltip, kept up to date by the window's own changes and the engine's
// reports.
#include "window_fixture.h"

#include "app/engine_events.h"
#include "app/track_titles.h"
#include "tests/support/mp3_fixture.h"
#include "tests/support/scripted_server.h"

#include <QLabel>
#include <QListWidget>
#include <QThread>

#include <thread>

using vornel::app::TrackTitle;
using vornel::desktop::NowPlaying;
using vornel::desktop::PlaybackStatus;
using vornel::test::makeToneMp3;
using vornel::test::Route;
using vornel::test::runEventsUntil;
using vornel::test::ScriptedServer;
using vornel::test::WindowTest;

namespace {

struct TitleCase {
    QString entry;
    const char* icy;
    const char* id3;
    TrackTitle shown;
};

TEST(TrackTitleTest, TheStreamsOwnWordsComeFirstAndTheEntryFillsIn)
{
    const TitleCase cases[] = {
        {"Demo Band - Track 01 (330 Hz)", nullptr, nullptr, {"Demo Band", "Track 01 (330 Hz)"}},
        {"A - B - C", nullptr, nullptr, {"A", "B - C"}},
        {"No separator-here", nullptr, nullptr, {"", "No separator-here"}},
        {" - Untitled", nullptr, nullptr, {"", "Untitled"}},
        {"Band - Entry", "title=Radio Band - Live Song\0", nullptr, {"Radio Band", "Live Song"}},
        {"Band - Entry", "title=Station jingle\0", "title=X\0artist=Y\0", {"", "Station jingle"}},
        {"Band - Entry", nullptr, "title=Real Song\0artist=Real Band\0", {"Real Band", "Real Song"}},
        {"Band - Entry", nullptr, "title=Only A Title\0", {"Band", "Only A Title"}},
        {"Band - Entry", nullptr, "artist=Only An Artist\0", {"Only An Artist", "Entry"}},
        {"Band - Entry", nullptr, "title=Caf\xC3\xA9\0", {"Band", QString::fromUtf8("Caf\xC3\xA9")}},
    };
    for (const TitleCase& c : cases)
        EXPECT_EQ(vornel::app::trackTitle(c.entry, c.icy, c.id3), c.shown)
            << c.entry.toStdString() << " / " << (c.icy ? c.icy : "-") << " / " << (c.id3 ? c.id3 : "-");
}

TEST(EngineEventsTest, ReportsFromAnEngineThreadArriveOnTheWindowThread)
{
    vornel::app::EngineEvents events;
    std::vector<std::pair<QThread*, HSTREAM>> tags;
    std::vector<QThread*> volumes;
    QObject::connect(&events, &vornel::app::EngineEvents::streamTagsChanged,
                     [&](HSTREAM stream) { tags.emplace_back(QThread::currentThread(), stream); });
    QObject::connect(&events, &vornel::app::EngineEvents::volumeChanged,
                     [&] { volumes.push_back(QThread::currentThread()); });
    std::thread engine([&] {
        vornel::app::EngineEvents::onStreamTags(42, BASS_TAG_ICY_TITLE, &events);
        vornel::app::EngineEvents::onVolume(0.5f, &events);
    });
    engine.join();
    ASSERT_TRUE(runEventsUntil([&] { return tags.size() == 1 && volumes.size() == 1; }, 5000));
    EXPECT_EQ(tags[0], std::make_pair(QThread::currentThread(), HSTREAM(42)));
    EXPECT_EQ(volumes[0], QThread::currentThread());
}

class MediaStateTest : public WindowTest {
protected:
    void serveEntry(const std::string& path, const std::string& audio)
    {
        // A stream-server name: the worker reports it as playing twice (its name, its start).
        server.addRoute(path + ".mp3", Route{audio, "audio/mpeg", 200, {"icy-name:Loopback FM"}});
        server.addRoute(path, Route{"{mp3:\"" + server.url(path + ".mp3") + "\"}", "text/html"});
    }
    QString toolTip() const { return window->JvTrayIcon1->toolTip(); }
    bool play(int row)
    {
        window->lb_PlayList->setCurrentRow(row);
        window->lb_PlayListDblClick();
        const bool playing = runEventsUntil([&] { return window->playbackStatus() == PlaybackStatus::Playing; });
        vornel::test::runEventsFor(300); // the worker's last report comes right behind the start
        return playing;
    }

    ScriptedServer server;
};

TEST_F(MediaStateTest, TheTooltipAndTheTrackFollowWhatPlaysAndEachStartGetsItsOwnId)
{
    serveEntry("/plain", makeToneMp3({.seconds = 3}));
    // Two files in one stream, each with its tag: the second tag comes while it plays.
    serveEntry("/tagged", vornel::test::id3v2Tag("First Song", "Real Band") + makeToneMp3({.seconds = 1}) +
                              vornel::test::id3v2Tag("Second Song", "Real Band") + makeToneMp3({.seconds = 3}));
    TfrmVornelPlayer& w = createWindow();
    EXPECT_EQ(toolTip(), "VornelPlayer");
    setPlaylist({{server.url("/plain"), "Demo Band - Track 01"}, {server.url("/tagged"), "Entry Text"}}, 0);

    ASSERT_TRUE(play(0));
    EXPECT_TRUE(runEventsUntil([&] { return toolTip() == "VornelPlayer\nDemo Band - Track 01"; }, 5000))
        << toolTip().toStdString();
    const NowPlaying first = w.nowPlaying();
    EXPECT_TRUE(first.present);
    EXPECT_EQ(first.title, "Track 01");
    EXPECT_EQ(first.artists, QStringList{"Demo Band"});

    // The same entry again is another track for the desktop; each stream has one id.
    ASSERT_TRUE(play(0));
    ASSERT_TRUE(runEventsUntil([&] { return w.nowPlaying().present && w.nowPlaying().id != first.id; }));
    EXPECT_EQ(w.nowPlaying().id, first.id + 1);
    EXPECT_EQ(w.nowPlaying().title, "Track 01");

    ASSERT_TRUE(play(1));
    EXPECT_TRUE(runEventsUntil([&] { return toolTip() == "VornelPlayer\nReal Band - First Song"; }, 5000))
        << toolTip().toStdString();
    // Nothing in the window changes when the second file begins; the engine's report does it.
    EXPECT_TRUE(runEventsUntil([&] { return toolTip() == "VornelPlayer\nReal Band - Second Song"; }, 10000))
        << toolTip().toStdString();
    EXPECT_EQ(w.nowPlaying().title, "Second Song");

    w.stopPlayback();
    EXPECT_TRUE(runEventsUntil([&] { return toolTip() == "VornelPlayer"; }, 5000)) << toolTip().toStdString();
    EXPECT_FALSE(w.nowPlaying().present);
}

} // namespace
