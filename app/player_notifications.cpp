// The window's reactions to the reports of stream workers and the download callback.
#include "app/player.h"

#include "playback/player_notify.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QTimer>

#include <algorithm>

using namespace vornel::playback;

namespace {
const QChar kPlayingMarker(0x25BA);
constexpr int kFirstRetryDelayMs = 500;
constexpr int kLongestRetryDelayMs = 5000;

QString textArgument(intptr_t value)
{
    const char* text = reinterpret_cast<const char*>(value);
    return text ? QString::fromUtf8(text) : QString();
}
} // namespace

void TfrmVornelPlayer::WMPlayerNotify(uint32_t code, intptr_t value)
{
    switch (code) {
    case PN_CONNECTING:
        label_currentTrack->setText(QStringLiteral("connecting..."));
        showHttpStatus(QString());
        break;
    case PN_OPEN_FAILED:
        label_currentTrack->setText(QStringLiteral("not playing"));
        scheduleOpenRetry();
        break;
    case PN_BUFFERING: {
        const int selected = lb_PlayList->currentRow();
        btn_TrackPrev->setEnabled(selected > 0);
        btn_TrackNext->setEnabled(selected != lb_PlayList->count() - 1);
        label_currentTrack->setText(QStringLiteral("buffering... %1%").arg(static_cast<int32_t>(value)));
        break;
    }
    case PN_PLAYING: {
        openFailuresInRow_ = 0;
        QListWidgetItem* entry = lb_PlayList->currentItem();
        if (entry && !entry->text().contains(kPlayingMarker))
            entry->setText(QString(kPlayingMarker) + QLatin1Char(' ') + entry->text());
        btn_Download->setEnabled(true);
        sTrackBar1->setEnabled(true);
        label_currentTrack->setText(entry ? entry->text() : QStringLiteral("playing"));
        rememberPlayingEntry();
        followPosition();
        break;
    }
    case PN_BITRATE: showHttpStatus(textArgument(value)); break;
    case PN_HTTP_STATUS:
        showHttpStatus(textArgument(value));
        if (lbl_httpStatus->text().contains(QStringLiteral("404")))
            btn_TrackNextClick();
        break;
    default: break;
    }
    mediaStateChanged();
}

int TfrmVornelPlayer::openRetryDelayMs() const
{
    int delay = kFirstRetryDelayMs;
    for (int failure = 1; failure < openFailuresInRow_ && delay < kLongestRetryDelayMs; ++failure)
        delay *= 2;
    return std::min(delay, kLongestRetryDelayMs);
}

// A stream that failed to open is tried again, later each time it keeps failing, so
// that a dead server does not keep the window and the network busy.
void TfrmVornelPlayer::scheduleOpenRetry()
{
    ++openFailuresInRow_;
    openRetryTimer_->start(openRetryDelayMs());
}
