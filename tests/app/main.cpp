// Window tests run with a QApplication made before any test.
#include "app/skin.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char* argv[])
{
    // No display and no sound card needed, also when the tests are listed.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("SDL_AUDIODRIVER"))
        qputenv("SDL_AUDIODRIVER", "dummy");
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VornelPlayer"));
    vornel::app::applySkin(application);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
