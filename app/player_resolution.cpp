// Track resolution: the selected entry's page gives the audio URL a stream worker plays.
#include "app/player.h"

#include "http/byte_stream.h"
#include "http/http_client.h"
#include "playback/stream_worker.h"
#include "playback/track_resolution.h"

#include <QCheckBox>
#include <QListWidget>
#include <QTimer>

using namespace vornel::playback;

namespace {
const QString deadMark = QString(QChar(0x2020)) + QStringLiteral("  ");
}

// Dead entries are marked and skipped in a loop, in the order mark, move on, resolve
// the next, so that a long run of them does not nest one resolution per entry.
void TfrmVornelPlayer::lb_PlayListDblClick()
{
    openRetryTimer_->stop();
    while (resolveSelectedOnce() == Resolution::Dead) {
        markSelectedDead();
        if (!selectNextEntry())
            return;
    }
}

TfrmVornelPlayer::Resolution TfrmVornelPlayer::resolveSelectedOnce()
{
    const int selected = lb_PlayList->currentRow();
    if (selected < 0 || lb_PlayList->count() == 0 || !linkUrls || selected >= static_cast<int>(linkUrls->size()))
        return Resolution::Nothing;
    useBlocks = cb_UseBlocks->isChecked();
    const std::string pageUrl = (*linkUrls)[static_cast<size_t>(selected)];

    vornel::http::MemoryStream body;
    IdHTTP1->GetToStream(pageUrl, body);
    // The system's 8-bit code page is UTF-8: the body's bytes are the text.
    const std::optional<std::string> url = cutTrackUrl(body.bytes());
    if (!url)
        return Resolution::Dead;
    trackUrl = *url;
    // Kept as the system asks; the engine has no proxy support, so this changes nothing.
    BASS_SetConfigPtr(BASS_CONFIG_NET_PROXY, nullptr);
    startStreamWorker(*url);
    return Resolution::Started;
}

void TfrmVornelPlayer::markSelectedDead()
{
    if (QListWidgetItem* entry = lb_PlayList->currentItem())
        entry->setText(deadMark + entry->text());
}

// The bounds of the Next button: false at the last entry or in an empty playlist.
bool TfrmVornelPlayer::selectNextEntry()
{
    if (lb_PlayList->count() == 0)
        return false;
    const int next = lb_PlayList->currentRow() + 1;
    if (next > lb_PlayList->count() - 1)
        return false;
    lb_PlayList->setCurrentRow(next);
    return true;
}

void TfrmVornelPlayer::lb_PlayListKeyDown(int key, Qt::KeyboardModifiers /*shift*/)
{
    if (key == Qt::Key_Return || key == Qt::Key_Enter)
        lb_PlayListDblClick();
}
