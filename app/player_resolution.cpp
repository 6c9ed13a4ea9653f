// Track resolution: the selected entry's page gives the audio URL a stream worker plays.
#include "app/player.h"

#include "http/byte_stream.h"
#include "http/http_client.h"
#include "playback/stream_worker.h"
#include "playback/track_resolution.h"

#include <QCheckBox>
#include <QListWidget>
#include <QTimer>

#include <functional>
#include <utility>

using namespace vornel::playback;

namespace {
const QString kDeadMark = QString(QChar(0x2020)) + QStringLiteral("  ");

// Holds the page client for resolutions while it lives; when it ends, however it ends, a
// page load that had to wait for the client runs.
class ResolutionTurn {
public:
    ResolutionTurn(bool& resolving, std::function<void()> afterwards)
        : resolving_(resolving), afterwards_(std::move(afterwards))
    {
        resolving_ = true;
    }
    ~ResolutionTurn()
    {
        resolving_ = false;
        afterwards_();
    }
    ResolutionTurn(const ResolutionTurn&) = delete;
    ResolutionTurn& operator=(const ResolutionTurn&) = delete;

private:
    bool& resolving_;
    std::function<void()> afterwards_;
};
} // namespace

// One resolution at a time uses the page client. An entry asked for meanwhile (Enter, a
// double click, the transport buttons, hot keys, media controls, the end of a track) is
// remembered, the newest replacing any older one, and resolved when the running one ends.
// Dead entries are marked and skipped in a loop, in the order mark, move on, resolve the
// next, so that a long run of them does not nest one resolution per entry.
void TfrmVornelPlayer::lb_PlayListDblClick()
{
    if (closing_)
        return;
    openRetryTimer_->stop();
    const int selected = lb_PlayList->currentRow();
    if (selected < 0 || lb_PlayList->count() == 0)
        return;
    if (resolving_ || loading_) {
        wishedRow_ = selected;
        return;
    }
    const ResolutionTurn turn(resolving_, [this] { startDeferredPageLoad(); });
    std::optional<int> row = selected;
    while (row)
        row = resolveRow(*row);
}

// Resolves the entry at row and tells which entry to resolve next, if any: the newest one
// asked for meanwhile, else after a dead entry the following one.
std::optional<int> TfrmVornelPlayer::resolveRow(int row)
{
    wishedRow_.reset();
    Resolution outcome = Resolution::Nothing;
    try {
        outcome = resolveEntry(row);
    } catch (const vornel::http::HttpError&) {
        // A newer wish makes this entry's failure moot; closing broke the request off.
        if (!wishedRow_ && !closing_)
            throw;
    }
    if (closing_)
        return std::nullopt;
    if (outcome == Resolution::Dead)
        markDead(row);
    if (wishedRow_) {
        const int wished = *std::exchange(wishedRow_, std::nullopt);
        lb_PlayList->setCurrentRow(wished);
        return wished;
    }
    if (outcome != Resolution::Dead || row + 1 > lb_PlayList->count() - 1)
        return std::nullopt;
    lb_PlayList->setCurrentRow(row + 1);
    return row + 1;
}

TfrmVornelPlayer::Resolution TfrmVornelPlayer::resolveEntry(int row)
{
    if (row < 0 || row >= lb_PlayList->count() || !linkUrls || row >= static_cast<int>(linkUrls->size()))
        return Resolution::Nothing;
    useBlocks = cb_UseBlocks->isChecked();
    const std::string pageUrl = (*linkUrls)[static_cast<size_t>(row)];

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

// The entry whose page was read, even when the selection moved on during the request.
void TfrmVornelPlayer::markDead(int row)
{
    if (QListWidgetItem* entry = lb_PlayList->item(row))
        entry->setText(kDeadMark + entry->text());
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
