// Program entry: the application, the main window, the loading overlay, the message loop.
#include "app/loading_overlay.h"
#include "app/player.h"
#include "app/quit_signals.h"
#include "app/skin.h"
#include "desktop/desktop_session.h"
#include "desktop/single_instance.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    vornel::desktop::prepareDesktopSession();
    QApplication application(argc, argv);
    // A second start brings the running copy to the front and ends here.
    if (vornel::desktop::claimSingleInstance(QDBusConnection::sessionBus()) == vornel::desktop::InstanceRole::Another)
        return 0;
    QApplication::setApplicationName(QStringLiteral("VornelPlayer"));
    vornel::app::applySkin(application);

    TfrmVornelPlayer window;
    if (!window.FormCreate())
        return 0; // the window's destructor releases what start-up acquired
    // Made after the main window and destroyed before it.
    LoadingOverlay frmLoading;
    window.setLoadingOverlay(&frmLoading);
    window.showCentred();
    vornel::app::closeOnQuitSignals(window);
    QApplication::exec();
    window.setLoadingOverlay(nullptr);
    return 0;
}
