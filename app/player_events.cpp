// The binding of the controls' events to the handlers, and the keyboard rules.
#include "app/player.h"

#include "app/error_report.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QSlider>
#include <QTimer>

using vornel::app::runGuarded;

namespace {
bool isEnterKey(int key)
{
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

bool hasShiftCtrlOrAlt(Qt::KeyboardModifiers modifiers)
{
    return modifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
}
} // namespace

void TfrmVornelPlayer::bindEvents()
{
    auto bind = [this](QPushButton* button, void (TfrmVornelPlayer::*handler)()) {
        connect(button, &QPushButton::clicked, this, [this, handler] { runGuarded([&] { (this->*handler)(); }); });
    };
    bind(btn_TrackPrev, &TfrmVornelPlayer::btn_TrackPrevClick);
    bind(btn_TrackNext, &TfrmVornelPlayer::btn_TrackNextClick);
    bind(btn_TrackPause, &TfrmVornelPlayer::btn_TrackPauseClick);
    bind(btn_Download, &TfrmVornelPlayer::btn_DownloadClick);
    bind(Button1, &TfrmVornelPlayer::Button1Click);
    bind(Button2, &TfrmVornelPlayer::Button2Click);
    connect(cb_UseBlocks, &QCheckBox::clicked, this, [this] { runGuarded([this] { cb_UseBlocksClick(); }); });
    connect(Timer1, &QTimer::timeout, this, [this] { runGuarded([this] { Timer1Timer(); }); });
    connect(Timer2, &QTimer::timeout, this, [this] { runGuarded([this] { Timer2Timer(); }); });
    connect(openRetryTimer_, &QTimer::timeout, this, [this] { runGuarded([this] { lb_PlayListDblClick(); }); });

    IdHTTP2->OnWork = [this](vornel::http::WorkMode, int64_t count) { IdHTTP2Work(count); };
    IdHTTP2->OnWorkEnd = [this](vornel::http::WorkMode) { IdHTTP2WorkEnd(); };

    lb_PlayList->installEventFilter(this);
    lb_PlayList->viewport()->installEventFilter(this);
    edit_dldir->installEventFilter(this);
    cb_UseBlocks->installEventFilter(this);
    sTrackBar1->installEventFilter(this);
}

// Download is the default button: a plain Enter in a control that does not take Enter
// for itself clicks it while it is enabled and visible, and the control never sees it.
bool TfrmVornelPlayer::clicksDefaultButton(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress || watched == lb_PlayList->viewport())
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (!isEnterKey(key->key()) || hasShiftCtrlOrAlt(key->modifiers()))
        return false;
    if (!btn_Download->isEnabled() || btn_Download->isHidden())
        return false;
    runGuarded([this] { btn_DownloadClick(); });
    return true;
}

bool TfrmVornelPlayer::eventFilter(QObject* watched, QEvent* event)
{
    if (clicksDefaultButton(watched, event))
        return true;
    if (watched == lb_PlayList && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        runGuarded([&] { lb_PlayListKeyDown(key->key(), key->modifiers()); });
    } else if (watched == lb_PlayList->viewport() && event->type() == QEvent::MouseButtonDblClick &&
               static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        runGuarded([this] { lb_PlayListDblClick(); });
    } else if (watched == sTrackBar1 && event->type() == QEvent::MouseButtonPress) {
        runGuarded([this] { sTrackBar1MouseDown(); });
    } else if (watched == sTrackBar1 && event->type() == QEvent::MouseButtonRelease) {
        const int x = static_cast<int>(static_cast<QMouseEvent*>(event)->position().x());
        runGuarded([this, x] { sTrackBar1MouseUp(x); });
    }
    return QWidget::eventFilter(watched, event);
}
