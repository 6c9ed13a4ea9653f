// Transport: previous, next, pause or play, block mode, the position tick and seeking.
#include "app/player.h"

#include "playback/stream_worker.h"

#include <QCheckBox>
#include <QListWidget>
#include <QSlider>
#include <QTimer>

#include <algorithm>

using vornel::playback::currentStream;

namespace {
// The tick comes as often as the seek bar's handle moves by a pixel, and at a track's end,
// so that the next entry starts there; never more often than the shortest, and at least as
// often as the longest interval.
constexpr int kShortestTickMs = 15;
constexpr int kLongestTickMs = 250;
} // namespace

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
    if (state == BASS_ACTIVE_PLAYING) {
        BASS_ChannelPause(stream);
    } else if (state != BASS_ACTIVE_STOPPED) {
        BASS_ChannelPlay(stream, 0);
        followPosition();
    } else {
        lb_PlayListDblClick();
    }
    mediaStateChanged();
}

// The tick runs while a track plays; it stops by itself when it finds none playing.
void TfrmVornelPlayer::followPosition()
{
    if (!seekBarHeld_)
        Timer2->start(kShortestTickMs);
}

void TfrmVornelPlayer::cb_UseBlocksClick()
{
    vornel::playback::useBlocks = cb_UseBlocks->isChecked();
}

void TfrmVornelPlayer::Timer2Timer()
{
    const HSTREAM stream = currentStream();
    // Taken before the position: a stream that has ended by now stands at its length, so a
    // stream found not playing here and short of its end is paused, freed or not started.
    const DWORD state = BASS_ChannelIsActive(stream);
    int32_t position = 0;
    if (stream != 0) {
        const auto length = static_cast<int32_t>(BASS_ChannelGetLength(stream, BASS_POS_BYTE));
        // A failed query (-1) leaves the range as it was.
        if (length >= sTrackBar1->minimum())
            sTrackBar1->setMaximum(length);
        position = static_cast<int32_t>(BASS_ChannelGetPosition(stream, BASS_POS_BYTE));
        sTrackBar1->follow(position);
    }
    if (sTrackBar1->value() < sTrackBar1->maximum()) {
        if (state == BASS_ACTIVE_PLAYING || state == BASS_ACTIVE_STALLED)
            Timer2->setInterval(nextTickMs(stream, position));
        else
            Timer2->stop();
        return;
    }
    Timer2->stop();
    // Past the last entry the playlist clears its selection, so playback stops there.
    lb_PlayList->setCurrentRow(lb_PlayList->currentRow() + 1);
    lb_PlayList->setFocus();
    lb_PlayListDblClick();
}

// Until the handle's next pixel or the track's end, whichever comes first, at the stream's
// pace.
int TfrmVornelPlayer::nextTickMs(HSTREAM stream, int32_t position) const
{
    const auto perSecond = static_cast<int64_t>(BASS_ChannelSeconds2Bytes(stream, 1.0));
    if (perSecond <= 0)
        return kShortestTickMs;
    const int64_t toEnd = std::max<int64_t>(0, int64_t{sTrackBar1->maximum()} - std::max(position, 0));
    const int64_t bytes = std::min<int64_t>(sTrackBar1->valuesPerPixel(), toEnd);
    const int64_t ms = (bytes * 1000 + perSecond - 1) / perSecond;
    return static_cast<int>(std::clamp<int64_t>(ms, kShortestTickMs, kLongestTickMs));
}

void TfrmVornelPlayer::sTrackBar1MouseDown()
{
    seekBarHeld_ = true;
    Timer2->stop();
}

// The release point over the bar's width designates the same fraction of the track.
void TfrmVornelPlayer::sTrackBar1MouseUp(int x)
{
    seekBarHeld_ = false;
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
    Timer2->start(kShortestTickMs);
}
