// Catalogue page loads and paging.
#include "app/player.h"

#include "catalogue/link_extraction.h"
#include "catalogue/page_urls.h"
#include "http/byte_stream.h"
#include "http/http_client.h"

#include <QListWidget>
#include <QPushButton>
#include <QLabel>
#include <QTimer>

#include <cstdint>

using namespace vornel::catalogue;

namespace {
// The playlist does not redraw while its entries change; closed on every path.
class UpdateBracket {
public:
    explicit UpdateBracket(QWidget* widget) : widget_(widget) { widget_->setUpdatesEnabled(false); }
    ~UpdateBracket() { widget_->setUpdatesEnabled(true); }
    UpdateBracket(const UpdateBracket&) = delete;
    UpdateBracket& operator=(const UpdateBracket&) = delete;

private:
    QWidget* widget_;
};
} // namespace

// A paging click while a page loads does not nest a second load: the newest page is
// loaded once the running load is over.
void TfrmVornelPlayer::Timer1Timer()
{
    Timer1->stop();
    if (loading_) {
        loadPending_ = true;
        return;
    }
    loading_ = true;
    showLoadingOverlay();
    loadCataloguePage();
    closeLoadingOverlay();
    loading_ = false;
    if (loadPending_) {
        loadPending_ = false;
        Timer1->start();
    }
}

void TfrmVornelPlayer::loadCataloguePage()
{
    const std::string url = pageUrl(catalogueBase, pageNumber);
    lb_PlayList->clear();
    linkUrls->clear();
    vornel::http::MemoryStream buffer;
    try {
        // Kept as the system asks although its body is unused: GetLinks fetches the page again.
        IdHTTP1->GetToStream(url, buffer);
        UpdateBracket bracket(lb_PlayList);
        GetLinks(url, [this](const std::string& linkUrl, const std::string& text) {
            linkUrls->push_back(linkUrl);
            lb_PlayList->addItem(QString::fromUtf8(text));
        });
        filterFileHostLinks();
    } catch (...) {
        // A failed load shows as an empty (or unfiltered) playlist, without a message.
        return;
    }
    lb_PlayList->setFocus();
    lb_PlayList->setCurrentRow(0);
}

// Walks down from the last index, so no index is shifted before it is visited.
void TfrmVornelPlayer::filterFileHostLinks()
{
    const std::string& marker = fileHost;
    for (int index = static_cast<int>(linkUrls->size()) - 1; index >= 0; --index) {
        if (containsFileHostMarker((*linkUrls)[static_cast<size_t>(index)], marker))
            continue;
        linkUrls->erase(linkUrls->begin() + index);
        delete lb_PlayList->takeItem(index);
    }
}

void TfrmVornelPlayer::Button1Click()
{
    if (pageNumber < INT32_MAX)
        ++pageNumber;
    if (!Timer1->isActive())
        Timer1->start();
    setRightAligned(Label2, 447, 451, QStringLiteral("page: %1").arg(pageNumber));
    Button2->setText(pageNumber > 1 ? QStringLiteral("next page") : QStringLiteral("refresh"));
}

void TfrmVornelPlayer::Button2Click()
{
    if (pageNumber > 1)
        --pageNumber;
    if (pageNumber == 1)
        Button2->setText(QStringLiteral("refresh"));
    if (!Timer1->isActive())
        Timer1->start();
    setRightAligned(Label2, 447, 451, QStringLiteral("page: %1").arg(pageNumber));
}
