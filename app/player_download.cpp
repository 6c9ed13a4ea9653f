// Saving the current track into the folder field's folder, with the progress bar.
#include "app/player.h"

#include "download/file_name.h"
#include "download/progress.h"
#include "download/save_path.h"
#include "download/track_download.h"
#include "http/http_client.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

namespace {
// Shows the Download button again and hides the bar at 0 on every way out.
class DownloadControlsRestorer {
public:
    explicit DownloadControlsRestorer(TfrmVornelPlayer* window) : window_(window) {}
    ~DownloadControlsRestorer() { window_->IdHTTP2WorkEnd(); }
    DownloadControlsRestorer(const DownloadControlsRestorer&) = delete;
    DownloadControlsRestorer& operator=(const DownloadControlsRestorer&) = delete;

private:
    TfrmVornelPlayer* window_;
};

class BusyFlag {
public:
    explicit BusyFlag(bool& flag) : flag_(flag) { flag_ = true; }
    ~BusyFlag() { flag_ = false; }
    BusyFlag(const BusyFlag&) = delete;
    BusyFlag& operator=(const BusyFlag&) = delete;

private:
    bool& flag_;
};
} // namespace

// A download started while one runs (by the hot key) is refused: the client is busy.
void TfrmVornelPlayer::btn_DownloadClick()
{
    if (trackUrl.empty() || downloading_ || closing_)
        return;
    const BusyFlag busy(downloading_);
    const std::string url = trackUrl;
    btn_Download->hide();
    const DownloadControlsRestorer restorer(this);
    downloadFileName_ = vornel::download::SanitizeFileName(label_currentTrack->text().toStdString());
    sProgressBar1->show();
    downloadTrack(url, downloadFileName_);
}

// The file name is taken before the transfer (by the caller), the folder after it.
void TfrmVornelPlayer::downloadTrack(const std::string& url, const std::string& fileName)
{
    try {
        const auto pathInFolder = [&] {
            return vornel::download::savePath(edit_dldir->text().toStdString(), fileName);
        };
        vornel::download::downloadTrackFile(*IdHTTP2, url, pathInFolder(), pathInFolder);
    } catch (...) {
        // Network and file failures of a download are dropped without a message.
    }
}

void TfrmVornelPlayer::IdHTTP2Work(int64_t workCount)
{
    const vornel::http::Response& reply = IdHTTP2->response();
    if (const std::optional<int> percent =
            vornel::download::downloadProgress(workCount, reply.ContentLength, reply.TransferEncoding))
        sProgressBar1->setValue(*percent);
}

void TfrmVornelPlayer::IdHTTP2WorkEnd()
{
    sProgressBar1->hide();
    btn_Download->show();
    sProgressBar1->setValue(0);
}
