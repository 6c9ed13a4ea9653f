// Catalogue page loads and paging.
#include "app/player.h"

#include "catalogue/link_extraction.h"
#include "catalogue/link_extraction_job.h"
#include "catalogue/page_urls.h"
#include "http/byte_stream.h"
#include "http/http_client.h"
#include "http/idle_pump.h"

#include <QListWidget>
#include <QPushButton>
#include <QLabel>
#include <QScopeGuard>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <utility>

using namespace vornel::catalogue;

namespace {
// How often the window handles its events while it waits for a page's links, and how many
// links it takes into the playlist between two turns of its events.
constexpr int kLinkWaitStepMs = 10;
constexpr size_t kFillStep = 4000;

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

// A page load waits while the page client is busy: a paging click during a load or a
// resolution is kept, and the newest page is loaded once the running request is over. An
// entry asked for during the load is resolved after it.
void TfrmVornelPlayer::Timer1Timer()
{
    Timer1->stop();
    if (closing_)
        return;
    if (loading_ || resolving_) {
        loadPending_ = true;
        return;
    }
    loading_ = true;
    showLoadingOverlay();
    loadCataloguePage();
    closeLoadingOverlay();
    loading_ = false;
    // An entry of the new list asked for while it filled.
    if (wishedRow_) {
        lb_PlayList->setCurrentRow(*std::exchange(wishedRow_, std::nullopt));
        lb_PlayListDblClick();
    }
    startDeferredPageLoad();
}

void TfrmVornelPlayer::startDeferredPageLoad()
{
    if (!loadPending_ || closing_)
        return;
    loadPending_ = false;
    Timer1->start();
}

void TfrmVornelPlayer::loadCataloguePage()
{
    const std::string url = pageUrl(catalogueBase, pageNumber);
    lb_PlayList->clear();
    linkUrls->clear();
    wishedRow_.reset(); // it named an entry of the list just emptied
    vornel::http::MemoryStream buffer;
    try {
        // Kept as the system asks although its body is unused: GetLinks fetches the page again.
        IdHTTP1->GetToStream(url, buffer);
        UpdateBracket bracket(lb_PlayList);
        appendFileHostLinks(extractLinksAside(url));
    } catch (...) {
        // A failed load shows as an empty playlist, without a message.
        return;
    }
    lb_PlayList->setFocus();
    lb_PlayList->setCurrentRow(0);
}

// GetLinks on a thread of its own, while the window thread waits with the idle pump
// running, so that a big page does not freeze the window. Closing stops the wait at once.
std::vector<PageLink> TfrmVornelPlayer::extractLinksAside(const std::string& url)
{
    LinkExtractionJob job(url);
    linkJob_ = &job;
    const auto forget = qScopeGuard([this] { linkJob_ = nullptr; });
    while (!job.waitFor(std::chrono::milliseconds(kLinkWaitStepMs))) {
        vornel::http::IdlePump::runIfDue();
        if (closing_)
            throw std::runtime_error("The window is closing");
    }
    return job.take();
}

// The links that lead to the file host go into both lists together, in page order, a few
// thousand at a time with the window's events handled in between: a page of many thousand
// links neither freezes the window nor shrinks the playlist entry by entry.
void TfrmVornelPlayer::appendFileHostLinks(std::vector<PageLink> links)
{
    for (size_t start = 0; start < links.size(); start += kFillStep) {
        if (start > 0) {
            vornel::http::IdlePump::runIfDue();
            if (closing_)
                throw std::runtime_error("The window is closing");
        }
        QStringList texts;
        for (size_t i = start; i < std::min(links.size(), start + kFillStep); ++i) {
            if (!containsFileHostMarker(links[i].url, fileHost))
                continue;
            linkUrls->push_back(std::move(links[i].url));
            texts.append(QString::fromUtf8(links[i].text));
        }
        lb_PlayList->addItems(texts);
    }
}

void TfrmVornelPlayer::Button1Click()
{
    if (pageNumber < INT32_MAX)
        ++pageNumber;
    if (!Timer1->isActive())
        Timer1->start();
    showPageNumber();
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
    showPageNumber();
}
