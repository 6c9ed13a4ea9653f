// The keyboard rules: Download is the default button.
#include "window_fixture.h"

#include "tests/support/scripted_server.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>

using vornel::test::Route;
using vornel::test::ScriptedServer;
using vornel::test::WindowTest;

namespace {
bool sendEnter(QWidget* target, Qt::KeyboardModifiers modifiers = Qt::NoModifier, int key = Qt::Key_Return)
{
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QCoreApplication::sendEvent(target, &press);
    return press.isAccepted();
}
} // namespace

TEST_F(WindowTest, PlainEnterInAControlClicksDownloadWhileItIsEnabledAndVisible)
{
    ScriptedServer server;
    server.addRoute("/t.mp3", Route{"abc", "audio/mpeg"});
    QTemporaryDir folder;
    TfrmVornelPlayer& w = createWindow();
    w.edit_dldir->setText(folder.path());
    w.trackUrl = server.url("/t.mp3");
    w.label_currentTrack->setText("song");
    int returnPressed = 0;
    QObject::connect(w.edit_dldir, &QLineEdit::returnPressed, [&] { ++returnPressed; });

    sendEnter(w.edit_dldir);
    EXPECT_EQ(server.requestHeads().size(), 0u) << "Download is disabled";
    EXPECT_EQ(returnPressed, 1) << "so the field sees the key";

    w.btn_Download->setEnabled(true);
    size_t downloads = 0;
    for (QWidget* control : {static_cast<QWidget*>(w.edit_dldir), static_cast<QWidget*>(w.cb_UseBlocks),
                             static_cast<QWidget*>(w.sTrackBar1), static_cast<QWidget*>(w.lb_PlayList)}) {
        sendEnter(control);
        EXPECT_EQ(server.requestHeads().size(), ++downloads) << control->objectName().toStdString();
        sendEnter(control, Qt::NoModifier, Qt::Key_Enter);
        EXPECT_EQ(server.requestHeads().size(), ++downloads) << "keypad Enter " << control->objectName().toStdString();
    }
    EXPECT_EQ(returnPressed, 1) << "the field never saw the Enter that clicked Download";

    for (Qt::KeyboardModifier modifier : {Qt::ShiftModifier, Qt::ControlModifier, Qt::AltModifier})
        sendEnter(w.edit_dldir, modifier);
    EXPECT_EQ(server.requestHeads().size(), downloads) << "Enter with a modifier reaches the control";
    EXPECT_EQ(returnPressed, 4);
}

TEST_F(WindowTest, PlainEnterOnAPushButtonClicksThatButton)
{
    TfrmVornelPlayer& w = createWindow();
    w.btn_Download->setEnabled(true);
    sendEnter(w.Button1);
    EXPECT_EQ(w.pageNumber, 2);
    EXPECT_EQ(w.Button2->text(), "next page");
    sendEnter(w.Button2);
    EXPECT_EQ(w.pageNumber, 1);
}
