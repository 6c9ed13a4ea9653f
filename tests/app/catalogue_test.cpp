// Page loads into the playlist and paging, against a catalogue on loopback.
#include "window_fixture.h"

#include "app/loading_overlay.h"
#include "tests/support/scripted_server.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

using vornel::test::ConnectionScript;
using vornel::test::Route;
using vornel::test::ScriptedServer;
using vornel::test::WindowTest;

namespace {
std::string anchors(const std::vector<std::pair<std::string, std::string>>& links)
{
    std::string html = "<html><body>";
    for (const auto& [href, text] : links)
        html += "<p><a href=\"" + href + "\">" + text + "</a></p>";
    return html + "</body></html>";
}

std::vector<std::string> requestedPaths(const ScriptedServer& server)
{
    std::vector<std::string> paths;
    for (const std::string& head : server.requestHeads()) {
        const size_t start = head.find(' ') + 1;
        paths.push_back(head.substr(start, head.find(' ', start) - start));
    }
    return paths;
}

class CatalogueTest : public WindowTest {
protected:
    TfrmVornelPlayer& createCatalogueWindow()
    {
        TfrmVornelPlayer& w = createWindow();
        w.catalogueBase = server.url("/");
        w.fileHost = "files.example";
        return w;
    }

    void loadAndWait()
    {
        window->Timer1->start();
        ASSERT_TRUE(vornel::test::runEventsUntil([&] { return !window->Timer1->isActive(); }));
        vornel::test::runEventsFor(50);
    }

    std::vector<std::string> entries() const
    {
        std::vector<std::string> texts;
        for (int i = 0; i < window->lb_PlayList->count(); ++i)
            texts.push_back(window->lb_PlayList->item(i)->text().toStdString());
        return texts;
    }

    ScriptedServer server;
};
} // namespace

TEST_F(CatalogueTest, ALoadRequestsThePageTwiceAndKeepsOnlyFileHostLinks)
{
    server.addRoute("/", Route{anchors({{"http://files.example/1", "One"},
                                        {"/about", "About"},
                                        {"http://other.example/x", "Other"},
                                        {"http://FILES.EXAMPLE/2", "Two"},
                                        {"http://elsewhere.example/?via=files.example", "Three"},
                                        {"/contact", "Contact"}}),
                               "text/html"});
    TfrmVornelPlayer& w = createCatalogueWindow();
    loadAndWait();
    EXPECT_EQ(requestedPaths(server), (std::vector<std::string>{"/", "/"}));
    EXPECT_EQ(entries(), (std::vector<std::string>{"One", "Two", "Three"}));
    EXPECT_EQ(*w.linkUrls, (std::vector<std::string>{"http://files.example/1", "http://FILES.EXAMPLE/2",
                                                     "http://elsewhere.example/?via=files.example"}));
    EXPECT_EQ(w.lb_PlayList->currentRow(), 0);
    EXPECT_TRUE(w.lb_PlayList->updatesEnabled());
    EXPECT_TRUE(boxes.empty());
    EXPECT_FALSE(w.Timer1->isActive());
}

// The playlist fills in steps of a few thousand links; across the steps every file-host
// link is kept, in page order, with its own URL.
TEST_F(CatalogueTest, APageOfManyLinksKeepsEveryFileHostLinkInOrder)
{
    std::vector<std::pair<std::string, std::string>> links;
    for (int i = 0; i < 20001; ++i)
        links.emplace_back(i % 2 == 0 ? "http://files.example/" + std::to_string(i) : "/about/" + std::to_string(i),
                           "Entry " + std::to_string(i));
    server.addRoute("/", Route{anchors(links), "text/html"});
    TfrmVornelPlayer& w = createCatalogueWindow();
    loadAndWait();
    ASSERT_EQ(w.lb_PlayList->count(), 10001);
    ASSERT_EQ(w.linkUrls->size(), 10001u);
    for (int entry : {0, 1, 1999, 2000, 2001, 5000, 9999, 10000}) {
        EXPECT_EQ(w.lb_PlayList->item(entry)->text().toStdString(), "Entry " + std::to_string(2 * entry));
        EXPECT_EQ((*w.linkUrls)[static_cast<size_t>(entry)], "http://files.example/" + std::to_string(2 * entry));
    }
    EXPECT_EQ(w.lb_PlayList->currentRow(), 0);
}

TEST_F(CatalogueTest, APageWithoutFileHostLinksEndsEmpty)
{
    server.addRoute("/", Route{anchors({{"/a", "A"}, {"/b", "B"}}), "text/html"});
    TfrmVornelPlayer& w = createCatalogueWindow();
    setPlaylist({{"http://files.example/old", "old"}}, 0);
    loadAndWait();
    EXPECT_EQ(w.lb_PlayList->count(), 0);
    EXPECT_TRUE(w.linkUrls->empty());
    EXPECT_EQ(w.lb_PlayList->currentRow(), -1);
}

TEST_F(CatalogueTest, AFailedRequestLeavesAnEmptyPlaylistAndNoDialog)
{
    int closedPort;
    {
        ScriptedServer gone;
        closedPort = gone.port();
    }
    TfrmVornelPlayer& w = createCatalogueWindow();
    w.catalogueBase = "http://127.0.0.1:" + std::to_string(closedPort) + "/";
    setPlaylist({{"http://files.example/old", "old"}}, 0);
    loadAndWait();
    EXPECT_EQ(w.lb_PlayList->count(), 0);
    EXPECT_TRUE(w.linkUrls->empty());
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(w.lb_PlayList->updatesEnabled());
}

TEST_F(CatalogueTest, PagingButtonsSetThePageCaptionsAndUrl)
{
    for (const char* path : {"/", "/page/2/", "/page/3/"})
        server.addRoute(path, Route{anchors({{std::string("http://files.example") + path, path}}), "text/html"});
    TfrmVornelPlayer& w = createCatalogueWindow();
    w.Button2Click();
    EXPECT_EQ(w.pageNumber, 1);
    EXPECT_EQ(w.Label2->text(), "page: 1");
    EXPECT_EQ(w.Button2->text(), "refresh");
    loadAndWait();
    EXPECT_EQ(entries(), (std::vector<std::string>{"/"}));

    w.Button1Click();
    EXPECT_EQ(w.Label2->text(), "page: 2");
    EXPECT_EQ(w.Button2->text(), "next page");
    loadAndWait();
    EXPECT_EQ(entries(), (std::vector<std::string>{"/page/2/"}));

    w.Button1Click();
    w.Button1Click();
    w.Button2Click();
    EXPECT_EQ(w.pageNumber, 3);
    EXPECT_EQ(w.Button2->text(), "next page");
    loadAndWait();
    EXPECT_EQ(entries(), (std::vector<std::string>{"/page/3/"})) << "two clicks before a tick: one load";
    w.Button2Click();
    w.Button2Click();
    EXPECT_EQ(w.pageNumber, 1);
    EXPECT_EQ(w.Button2->text(), "refresh");
    EXPECT_EQ(w.Label2->text(), "page: 1");
    EXPECT_EQ(requestedPaths(server),
              (std::vector<std::string>{"/", "/", "/page/2/", "/page/2/", "/page/3/", "/page/3/"}));
}

TEST_F(CatalogueTest, APagingClickDuringALoadLoadsItsPageAfterwards)
{
    const std::string page1 = anchors({{"http://files.example/one", "one"}});
    server.addConnection(
        ConnectionScript().expectHead().wait(std::chrono::milliseconds(400)).send(ScriptedServer::ok200(page1)));
    server.addRoute("/", Route{page1, "text/html"});
    server.addRoute("/page/2/", Route{anchors({{"http://files.example/two", "two"}}), "text/html"});
    TfrmVornelPlayer& w = createCatalogueWindow();
    QTimer::singleShot(150, &w, [&] { w.Button1Click(); });
    window->Timer1->start();
    ASSERT_TRUE(
        vornel::test::runEventsUntil([&] { return requestedPaths(server).size() == 4 && !w.Timer1->isActive(); }));
    vornel::test::runEventsFor(100);
    EXPECT_EQ(requestedPaths(server), (std::vector<std::string>{"/", "/", "/page/2/", "/page/2/"}));
    EXPECT_EQ(entries(), (std::vector<std::string>{"two"}));
    EXPECT_EQ(*w.linkUrls, (std::vector<std::string>{"http://files.example/two"}));
}

TEST_F(CatalogueTest, TheFirstPageLoadsWhenTheLoopRuns)
{
    server.addRoute("/", Route{anchors({{"http://files.example/1", "first"}}), "text/html"});
    window = std::make_unique<TfrmVornelPlayer>();
    window->catalogueBase = server.url("/");
    window->fileHost = "files.example";
    ASSERT_TRUE(window->FormCreate());
    EXPECT_TRUE(window->Timer1->isActive());
    ASSERT_TRUE(vornel::test::runEventsUntil([&] { return window->lb_PlayList->count() == 1; }));
    EXPECT_EQ(window->lb_PlayList->currentRow(), 0);
}

TEST_F(CatalogueTest, TheOverlayCoversThePlaylistWhileAPageLoads)
{
    const std::string page = anchors({{"http://files.example/1", "one"}});
    server.addConnection(
        ConnectionScript().expectHead().wait(std::chrono::milliseconds(300)).send(ScriptedServer::ok200(page)));
    server.addRoute("/", Route{page, "text/html"});
    TfrmVornelPlayer& w = createCatalogueWindow();
    LoadingOverlay overlay;
    w.setLoadingOverlay(&overlay);
    w.show();
    bool shownDuringLoad = false;
    QRect placed;
    QTimer::singleShot(100, &w, [&] {
        shownDuringLoad = overlay.isVisible();
        placed = overlay.geometry();
    });
    loadAndWait();
    EXPECT_TRUE(shownDuringLoad);
    const QPoint origin = w.lb_PlayList->mapToGlobal(w.lb_PlayList->contentsRect().topLeft());
    EXPECT_EQ(placed, QRect(origin, QSize(439, 230)));
    EXPECT_FALSE(overlay.isVisible()) << "closed after the load";
    EXPECT_EQ(entries(), (std::vector<std::string>{"one"}));
    w.setLoadingOverlay(nullptr);
}
