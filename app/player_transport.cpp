// Transport: previous, next, pause or play, block mode, the position tick and seeking.
#include "app/player.h"

#include "playback/stream_worker.h"

#include <QCheckBox>
#include <QListWidget>
#include <QSlider>
#include <QTimer>

#include <algorithm>

using vornel::playback::currentStream;

void TfrmVornelPlayer::btn_TrackPrevClick()
{
    if (lb_PlayList->count() == 0)
        return;
    const int previous = lb_PlayList->currentRow() - 1;
    if (previous < 0)
        return;
    lb_PlayList->setCurrentRow(previous);
    lb_PlayListDblClick();
}

void TfrmVornelPlayer::btn_TrackNextClick()
{
    if (selectNextEntry())
        lb_PlayListDblClick();
}

void TfrmVornelPlayer::btn_TrackPauseClick()
{
    const HSTREAM stream = currentStream();
    const DWORD state = BASS_ChannelIsActive(stream);
    if (state == BASS_ACTIVE_PLAYING)
        BASS_ChannelPause(stream);
    else if (state != BASS_ACTIVE_STOPPED)
        BASS_ChannelPlay(stream, 0);
    else
        lb_PlayListDblClick();
    mediaStateChanged();
}

void TfrmVornelPlayer::cb_UseBlocksClick()
{
    vornel::playback::useBlocks = cb_UseBlocks->isChecked();
}

void TfrmVornelPlayer::Timer2Timer()
{
    const HSTREAM stream = currentStream();
    if (stream != 0) {
        const auto length = static_cast<int32_t>(BASS_ChannelGetLength(stream, BASS_POS_BYTE));
        // A failed query (-1) leaves the range as it was.
        if (length >= sTrackBar1->minimum())
            sTrackBar1->setMaximum(length);
        sTrackBar1->setValue(static_cast<int32_t>(BASS_ChannelGetPosition(stream, BASS_POS_BYTE)));
    }
    if (sTrackBar1->value() < sTrackBar1->maximum())
        return;
    Timer2->stop();
    // Past the last entry the playlist clears its selection, so playback stops there.
    lb_PlayList->setCurrentRow(lb_PlayList->currentRow() + 1);
    lb_PlayList->setFocus();
    lb_PlayListDblClick();
}

void TfrmVornelPlayer::sTrackBar1MouseDown()
{
    Timer2->stop();
}

// The release point over the bar's width designates the same fraction of the track.
void TfrmVornelPlayer::sTrackBar1MouseUp(int x)
{
    const int width = std::max(1, sTrackBar1->width());
    const int64_t clampedX = std::clamp(x, 0, width);
    const int64_t target = clampedX * sTrackBar1->maximum() / width;
    seekToByte(static_cast<QWORD>(target));
}

// A block-mode stream refuses; it plays on and the next tick puts the bar back.
void TfrmVornelPlayer::seekToByte(uint64_t position)
{
    if (BASS_ChannelSetPosition(currentStream(), position, BASS_POS_BYTE))
        mediaPositionJumped();
    Timer2->start();
}
