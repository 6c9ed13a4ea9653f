// Window tests run with a QApplication made before any test.
#include "app/skin.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VornelPlayer"));
    applySkin(application);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
