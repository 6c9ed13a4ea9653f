// Previous, next, pause, block mode, the position tick, seeking and the end of a track.
#include "window_fixture.h"

#include "playback/stream_worker.h"
#include "tests/support/mp3_fixture.h"
#include "tests/support/scripted_server.h"

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QSlider>
#include <QTimer>

using vornel::playback::currentStream;
using vornel::test::Route;
using vornel::test::ScriptedServer;
using vornel::test::WindowTest;

namespace {
const QString playing = QString(QChar(0x25BA)) + " ";

class TransportTest : public WindowTest {
protected:
    // Entries whose pages lead to tones of the given lengths on the test's server.
    void servePlaylist(const std::vector<double>& seconds, int selected)
    {
        std::vector<std::pair<std::string, QString>> entries;
        for (size_t i = 0; i < seconds.size(); ++i) {
            const std::string n = std::to_string(i);
            server.addRoute("/t" + n + ".mp3", Route{vornel::test::makeToneMp3({.seconds = seconds[i]}), "audio/mpeg"});
            server.addRoute("/p" + n, Route{"{mp3:\"" + server.url("/t" + n + ".mp3") + "\"}", "text/html"});
            entries.emplace_back(server.url("/p" + n), QString("track %1").arg(i));
        }
        setPlaylist(entries, selected);
    }

    bool waitUntilPlaying(int row)
    {
        return vornel::test::runEventsUntil([&] {
            return window->label_currentTrack->text() == playing + QString("track %1").arg(row) &&
                   BASS_ChannelIsActive(currentStream()) == BASS_ACTIVE_PLAYING;
        });
    }

    size_t pageRequests(int row) const
    {
        size_t count = 0;
        for (const std::string& head : server.requestHeads())
            if (head.rfind("GET /p" + std::to_string(row) + " ", 0) == 0)
                ++count;
        return count;
    }

    ScriptedServer server;
};
} // namespace

TEST_F(TransportTest, PreviousAndNextKeepToTheEndsOfThePlaylist)
{
    TfrmVornelPlayer& w = createWindow();
    servePlaylist({1, 1}, 0);
    w.btn_TrackPrevClick();
    EXPECT_EQ(w.lb_PlayList->currentRow(), 0);
    w.lb_PlayList->setCurrentRow(1);
    w.btn_TrackNextClick();
    EXPECT_EQ(w.lb_PlayList->currentRow(), 1);
    w.lb_PlayList->setCurrentRow(-1);
    w.btn_TrackPrevClick();
    EXPECT_EQ(w.lb_PlayList->currentRow(), -1);
    EXPECT_EQ(server.requestHeads().size(), 0u);

    w.btn_TrackNextClick();
    EXPECT_EQ(w.lb_PlayList->currentRow(), 0) << "Next with no selection plays the first entry";
    EXPECT_EQ(pageRequests(0), 1u);
    w.btn_TrackNextClick();
    EXPECT_EQ(pageRequests(1), 1u);
    w.btn_TrackPrevClick();
    EXPECT_EQ(w.lb_PlayList->currentRow(), 0);
    EXPECT_EQ(pageRequests(0), 2u);
}

TEST_F(TransportTest, PausePausesResumesAndPlaysWhenNothingPlays)
{
    TfrmVornelPlayer& w = createWindow();
    servePlaylist({6}, 0);
    w.btn_TrackPauseClick();
    ASSERT_TRUE(waitUntilPlaying(0)) << "no stream: the selected entry is resolved";
    w.btn_TrackPauseClick();
    EXPECT_EQ(BASS_ChannelIsActive(currentStream()), BASS_ACTIVE_PAUSED);
    const QWORD pausedAt = BASS_ChannelGetPosition(currentStream(), BASS_POS_BYTE);
    vornel::test::runEventsFor(100);
    EXPECT_EQ(BASS_ChannelGetPosition(currentStream(), BASS_POS_BYTE), pausedAt);
    w.btn_TrackPauseClick();
    EXPECT_EQ(BASS_ChannelIsActive(currentStream()), BASS_ACTIVE_PLAYING);
    EXPECT_EQ(pageRequests(0), 1u);
}

TEST_F(TransportTest, ThePositionTickRunsOnlyWhileATrackPlays)
{
    TfrmVornelPlayer& w = createWindow();
    servePlaylist({8}, 0);
    w.lb_PlayListDblClick();
    ASSERT_TRUE(waitUntilPlaying(0));
    ASSERT_TRUE(vornel::test::runEventsUntil([&] { return w.sTrackBar1->value() > 0; }));

    // Paused by the button, or by a media-player client that pauses the stream itself.
    for (const bool byButton : {true, false}) {
        if (byButton)
            w.btn_TrackPauseClick();
        else
            BASS_ChannelPause(currentStream());
        EXPECT_TRUE(vornel::test::runEventsUntil([&] { return !w.Timer2->isActive(); }, 1000)) << byButton;
        const int shown = w.sTrackBar1->value();
        vornel::test::runEventsFor(100);
        EXPECT_EQ(w.sTrackBar1->value(), shown);
        w.btn_TrackPauseClick();
        EXPECT_EQ(BASS_ChannelIsActive(currentStream()), BASS_ACTIVE_PLAYING);
        EXPECT_TRUE(w.Timer2->isActive()) << "resuming turns the tick on";
        EXPECT_TRUE(vornel::test::runEventsUntil([&] { return w.sTrackBar1->value() > shown; })) << byButton;
    }

    // While the seek bar is held, a pause and a resume leave the tick off until the release.
    w.sTrackBar1MouseDown();
    w.btn_TrackPauseClick();
    w.btn_TrackPauseClick();
    EXPECT_EQ(BASS_ChannelIsActive(currentStream()), BASS_ACTIVE_PLAYING);
    EXPECT_FALSE(w.Timer2->isActive());
    w.sTrackBar1MouseUp(w.sTrackBar1->width() / 4);
    EXPECT_TRUE(w.Timer2->isActive());
}

// The tick comes about when the handle moves by a pixel (a quarter second on a minute's
// track), not every few milliseconds, and one comes at the track's end for the next entry.
TEST_F(TransportTest, TheTickComesWhenTheHandleMovesAndAtTheEnd)
{
    TfrmVornelPlayer& w = createWindow();
    servePlaylist({60, 1}, 0);
    w.lb_PlayListDblClick();
    ASSERT_TRUE(waitUntilPlaying(0));
    ASSERT_TRUE(vornel::test::runEventsUntil(
        [&] { return BASS_StreamGetFilePosition(currentStream(), BASS_FILEPOS_CONNECTED) == 0; }));
    w.Timer2Timer();
    const int pixelMs = w.Timer2->interval();
    EXPECT_GE(pixelMs, 100);
    EXPECT_LE(pixelMs, 250);

    const QWORD length = BASS_ChannelGetLength(currentStream(), BASS_POS_BYTE);
    const QWORD tenth = BASS_ChannelSeconds2Bytes(currentStream(), 0.1);
    ASSERT_TRUE(BASS_ChannelSetPosition(currentStream(), length - tenth, BASS_POS_BYTE));
    w.Timer2Timer();
    EXPECT_LE(w.Timer2->interval(), 150) << "the next tick is due at the end";
    EXPECT_TRUE(w.Timer2->isActive());
    EXPECT_TRUE(waitUntilPlaying(1)) << "the next entry starts after the end";
}

TEST_F(TransportTest, TheTickFollowsTheStreamAndKeepsTheRangeOfAFreedOne)
{
    TfrmVornelPlayer& w = createWindow();
    servePlaylist({6}, 0);
    w.lb_PlayListDblClick();
    ASSERT_TRUE(waitUntilPlaying(0));
    vornel::test::runEventsFor(200);
    const int length = static_cast<int>(BASS_ChannelGetLength(currentStream(), BASS_POS_BYTE));
    EXPECT_EQ(w.sTrackBar1->maximum(), length);
    EXPECT_GT(w.sTrackBar1->value(), 0);

    w.Timer2->stop();
    BASS_StreamFree(currentStream());
    w.Timer2Timer();
    EXPECT_EQ(w.sTrackBar1->maximum(), length) << "-1 leaves the range";
    EXPECT_EQ(w.sTrackBar1->value(), 0) << "-1 is clamped to 0";
}

TEST_F(TransportTest, TheEndOfATrackStartsTheNextAndTheLastOneStops)
{
    TfrmVornelPlayer& w = createWindow();
    servePlaylist({1, 1}, 0);
    w.lb_PlayListDblClick();
    ASSERT_TRUE(waitUntilPlaying(0));
    ASSERT_TRUE(waitUntilPlaying(1)) << "the next entry starts by itself";
    EXPECT_EQ(w.lb_PlayList->currentRow(), 1);
    // The playlist refuses an index past its end by clearing its selection: nothing plays.
    ASSERT_TRUE(vornel::test::runEventsUntil([&] { return w.lb_PlayList->currentRow() == -1; }, 15000));
    vornel::test::runEventsFor(300);
    EXPECT_EQ(pageRequests(1), 1u);
    EXPECT_FALSE(w.Timer2->isActive());
    EXPECT_EQ(BASS_ChannelIsActive(currentStream()), BASS_ACTIVE_STOPPED);
}

TEST_F(TransportTest, ReleasingTheSeekBarMovesPlaybackByTheReleasePoint)
{
    TfrmVornelPlayer& w = createWindow();
    servePlaylist({8}, 0);
    w.lb_PlayListDblClick();
    ASSERT_TRUE(waitUntilPlaying(0));
    ASSERT_TRUE(vornel::test::runEventsUntil([&] { return w.sTrackBar1->maximum() > 256; }));
    // The engine seeks only within the part of the file it has scanned.
    ASSERT_TRUE(vornel::test::runEventsUntil(
        [&] { return BASS_StreamGetFilePosition(currentStream(), BASS_FILEPOS_CONNECTED) == 0; }));
    vornel::test::runEventsFor(200);
    const int64_t length = w.sTrackBar1->maximum();

    for (Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton}) {
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(200, 10), QPointF(200, 10), button, button, Qt::NoModifier);
        QCoreApplication::sendEvent(w.sTrackBar1, &press);
        EXPECT_FALSE(w.Timer2->isActive()) << "pressing stops the tick";
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(206, 10), QPointF(206, 10), button, Qt::NoButton,
                            Qt::NoModifier);
        QCoreApplication::sendEvent(w.sTrackBar1, &release);
        EXPECT_TRUE(w.Timer2->isActive());
        const int64_t position = static_cast<int64_t>(BASS_ChannelGetPosition(currentStream(), BASS_POS_BYTE));
        const int64_t target = 206 * length / 275;
        EXPECT_GE(position, target - length / 20) << button;
        EXPECT_LE(position, target + length / 20) << button;
    }
}

TEST_F(TransportTest, BlockModeFollowsTheCheckBoxForTheNextStream)
{
    TfrmVornelPlayer& w = createWindow();
    w.cb_UseBlocks->setChecked(true);
    w.cb_UseBlocksClick();
    EXPECT_TRUE(vornel::playback::useBlocks);
    w.cb_UseBlocks->setChecked(false);
    w.cb_UseBlocksClick();
    EXPECT_FALSE(vornel::playback::useBlocks);
}
