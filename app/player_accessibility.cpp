// What assistive technologies say of the window's controls: a name for what each does and a
// description of it; the visible captions stay as they are.
#include "app/player.h"

#include "app/seek_bar_accessible.h"
#include "playback/stream_worker.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>

namespace {
void describe(QWidget* control, const QString& name, const QString& description)
{
    if (!name.isEmpty())
        control->setAccessibleName(name);
    control->setAccessibleDescription(description);
}
} // namespace

void TfrmVornelPlayer::describeControlsForAccessibility()
{
    describe(this, QString(), QStringLiteral("Plays the audio files of the web catalogue, page by page"));
    describe(label_currentTrack, QString(), QStringLiteral("The track playing, or what the player is doing"));
    describe(sTrackBar1, QStringLiteral("Seek"),
             QStringLiteral("Moves playback to another point of the track; the value is the position in seconds"));
    describe(btn_TrackPrev, QStringLiteral("Previous track"), QStringLiteral("Plays the entry above the selected one"));
    describe(btn_TrackPause, QStringLiteral("Pause or play"),
             QStringLiteral("Pauses or resumes the track, or plays the selected entry"));
    describe(btn_TrackNext, QStringLiteral("Next track"), QStringLiteral("Plays the entry below the selected one"));
    describe(btn_Download, QStringLiteral("Download"),
             QStringLiteral("Saves the current track as an MP3 file in the download folder"));
    describe(sProgressBar1, QStringLiteral("Download progress"), QStringLiteral("How much of the track has come"));
    describe(edit_dldir, QStringLiteral("Download folder"), QStringLiteral("The folder that downloads are saved in"));
    Label1->setBuddy(edit_dldir);
    describe(cb_UseBlocks, QStringLiteral("Use smaller chunks"),
             QStringLiteral("Plays the next track in smaller chunks, without seeking"));
    describe(lb_PlayList, QStringLiteral("Playlist"),
             QStringLiteral("The tracks of the catalogue page shown; Enter or a double click plays one"));
    describe(Button1, QStringLiteral("Previous page"), QStringLiteral("Loads the catalogue page with older tracks"));
    describe(Button2, QStringLiteral("Next page"),
             QStringLiteral("Loads the catalogue page with newer tracks, or page 1 again"));
    describe(Label2, QString(), QStringLiteral("The catalogue page shown"));
    describe(lbl_httpStatus, QString(), QStringLiteral("The stream's bit rate or the server's answer"));
    describe(StatusBar1, QStringLiteral("Hot keys"), QStringLiteral("The keys that control the player from anywhere"));

    vornel::app::describeSeekBarInSeconds(
        sTrackBar1, {[] {
                         const QWORD perSecond = BASS_ChannelSeconds2Bytes(vornel::playback::currentStream(), 1.0);
                         return perSecond == static_cast<QWORD>(-1) ? 0.0 : static_cast<double>(perSecond);
                     },
                     [this](double seconds) {
                         const QWORD target = BASS_ChannelSeconds2Bytes(vornel::playback::currentStream(), seconds);
                         if (target != static_cast<QWORD>(-1))
                             seekToByte(target);
                     }});
}
