#pragma once
// A main window made for one test: message boxes are recorded instead of shown, the page
// timer is held back unless the test wants a load, and the events are run until a
// condition holds (bounded).
#include "app/message_boxes.h"
#include "app/player.h"
#include "tests/support/event_wait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QtWidgets>

#include <functional>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

namespace vornel::test {

inline void runEventsFor(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        vornel::app::setMessageBoxPresenter(
            [this](const vornel::app::MessageBoxRequest& request) { boxes.push_back(request); });
    }

    void TearDown() override
    {
        window.reset();
        vornel::app::setMessageBoxPresenter({});
    }

    // Creates the window and runs FormCreate; the page timer is stopped unless asked.
    TfrmVornelPlayer& createWindow(bool keepPageTimer = false)
    {
        window = std::make_unique<TfrmVornelPlayer>();
        if (!keepPageTimer)
            window->Timer1->stop();
        EXPECT_TRUE(window->FormCreate());
        return *window;
    }

    void setPlaylist(const std::vector<std::pair<std::string, QString>>& entries, int selected);

    std::unique_ptr<TfrmVornelPlayer> window;
    std::vector<vornel::app::MessageBoxRequest> boxes;
};

} // namespace vornel::test
