// The window's desktop integration: global hot keys, the tray icon, the loading overlay.
#include "app/player.h"

#include "desktop/application_visibility.h"
#include "app/error_report.h"
#include "app/loading_overlay.h"
#include "app/program_icon.h"

#include <QDBusConnection>
#include <QEvent>
#include <QListWidget>

using vornel::desktop::HideApplication;
using vornel::desktop::isApplicationVisible;
using vornel::desktop::isHiddenBehindTray;
using vornel::desktop::makeGlobalShortcuts;
using vornel::desktop::setReturnsWithApplication;
using vornel::desktop::ShowApplication;
using vornel::desktop::TrayIcon;

void TfrmVornelPlayer::createTrayIcon()
{
    JvTrayIcon1 = std::make_unique<TrayIcon>(vornel::app::programIcon());
    JvTrayIcon1->onClick = [this] { vornel::app::runGuarded([this] { JvTrayIcon1Click(); }); };
}

void TfrmVornelPlayer::registerHotkeys()
{
    hotkeys = makeGlobalShortcuts(QDBusConnection::sessionBus());
    hotkeys->onHotkey = [this](int32_t id) { vornel::app::runGuarded([this, id] { WMHotKey(id); }); };
    hotkey1 = hotkeys->registerShortcut({'D', QStringLiteral("download"), QStringLiteral("Save the current track")});
    hotkey2 = hotkeys->registerShortcut({'W', QStringLiteral("next"), QStringLiteral("Play the next entry")});
    hotkey3 = hotkeys->registerShortcut({'Q', QStringLiteral("previous"), QStringLiteral("Play the previous entry")});
    hotkey4 = hotkeys->registerShortcut({'P', QStringLiteral("pause"), QStringLiteral("Pause, resume or play")});
}

void TfrmVornelPlayer::unregisterHotkeys()
{
    if (!hotkeys)
        return;
    for (int32_t id : {hotkey1, hotkey2, hotkey3, hotkey4})
        hotkeys->unregisterShortcut(id);
    hotkeys.reset();
}

// Each comparison is made; the ids are distinct, so at most one handler runs.
void TfrmVornelPlayer::WMHotKey(int32_t id)
{
    if (id == hotkey1)
        btn_DownloadClick();
    if (id == hotkey2)
        btn_TrackNextClick();
    if (id == hotkey3)
        btn_TrackPrevClick();
    if (id == hotkey4)
        btn_TrackPauseClick();
}

QList<QWidget*> TfrmVornelPlayer::otherWindows() const
{
    QList<QWidget*> others;
    if (frmLoading)
        others.append(frmLoading);
    return others;
}

void TfrmVornelPlayer::JvTrayIcon1Click()
{
    if (isApplicationVisible(this))
        HideApplication(this, otherWindows());
    else
        ShowApplication(this, otherWindows());
}

// Minimising hides the program behind its tray icon.
void TfrmVornelPlayer::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || !isMinimized() || hiding_)
        return;
    hiding_ = true;
    vornel::app::runGuarded([this] { HideApplication(this, otherWindows()); });
    hiding_ = false;
}

// The overlay covers the playlist: placed at its client area's screen origin, at its size.
// While the program is hidden behind its tray icon it waits to come back with the program.
void TfrmVornelPlayer::showLoadingOverlay()
{
    if (!frmLoading)
        return;
    frmLoading->placeAt(lb_PlayList->mapToGlobal(lb_PlayList->contentsRect().topLeft()));
    frmLoading->resizeTo(lb_PlayList->size());
    if (isHiddenBehindTray(this))
        setReturnsWithApplication(frmLoading, true);
    else
        frmLoading->showOverlay();
}

// Also while the program is hidden: a load that ended there leaves no overlay to come back.
void TfrmVornelPlayer::closeLoadingOverlay()
{
    if (!frmLoading)
        return;
    frmLoading->closeOverlay();
    setReturnsWithApplication(frmLoading, false);
}
