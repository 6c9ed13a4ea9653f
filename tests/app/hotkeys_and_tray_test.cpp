// The hot keys' handlers and the tray icon's click, from the window.
#include "window_fixture.h"

#include "desktop/application_visibility.h"
#include <set>
#include "tests/support/scripted_server.h"

using vornel::desktop::isApplicationVisible;
using vornel::test::ScriptedServer;
using vornel::test::WindowTest;

TEST_F(WindowTest, HotKeysRunTheirButtonsHandlersWhateverTheButtonsState)
{
    ScriptedServer server; // every page is dead: a resolution shows as a request
    TfrmVornelPlayer& w = createWindow();
    const std::set<int32_t> ids = {w.hotkey1, w.hotkey2, w.hotkey3, w.hotkey4};
    EXPECT_EQ(ids.size(), 4u) << "distinct ids";
    setPlaylist({{server.url("/a"), "a"}, {server.url("/b"), "b"}, {server.url("/c"), "c"}}, 1);
    ASSERT_FALSE(w.btn_TrackPrev->isEnabled());
    w.WMHotKey(w.hotkey3);
    EXPECT_EQ(server.requestHeads().size(), 3u) << "Previous ran although its button is disabled: a, b, c dead";
    EXPECT_EQ(w.lb_PlayList->currentRow(), 2);

    w.lb_PlayList->setCurrentRow(0);
    w.btn_TrackNext->setEnabled(false);
    w.WMHotKey(w.hotkey2);
    EXPECT_EQ(server.requestHeads().size(), 5u) << "Next ran: b dead, then c";
    EXPECT_EQ(w.lb_PlayList->currentRow(), 2);

    w.WMHotKey(w.hotkey4); // no stream: the selected entry resolves
    EXPECT_EQ(server.requestHeads().size(), 6u);
    w.WMHotKey(w.hotkey1); // no track URL: nothing
    w.WMHotKey(*ids.rbegin() + 1);
    EXPECT_EQ(server.requestHeads().size(), 6u);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(WindowTest, TrayClicksHideAndShowTheProgramAndMinimisingHidesIt)
{
    TfrmVornelPlayer& w = createWindow();
    w.showCentred();
    ASSERT_TRUE(vornel::test::runEventsUntil([&] { return isApplicationVisible(&w); }));
    w.JvTrayIcon1Click();
    EXPECT_TRUE(vornel::test::runEventsUntil([&] { return !isApplicationVisible(&w); }));
    w.JvTrayIcon1Click();
    EXPECT_TRUE(vornel::test::runEventsUntil([&] { return isApplicationVisible(&w); }));
    w.setWindowState(Qt::WindowMinimized);
    EXPECT_TRUE(vornel::test::runEventsUntil([&] { return !isApplicationVisible(&w) && !w.isVisible(); }));
    w.JvTrayIcon1Click();
    EXPECT_TRUE(vornel::test::runEventsUntil([&] { return isApplicationVisible(&w); }));
}
