// Program entry: the application, the main window, the loading overlay, the message loop.
#include "app/player.h"
#include "app/skin.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VornelPlayer"));
    applySkin(application);

    TfrmVornelPlayer window;
    if (!window.FormCreate())
        return 0; // the window's destructor releases what start-up acquired
    window.showCentred();
    QApplication::exec();
    return 0;
}
