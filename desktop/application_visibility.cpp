#include "desktop/application_visibility.h"

#include <QByteArray>
#include <QVariant>
#include <QWidget>

namespace vornel::desktop {

namespace {

// Kept on the widgets themselves, so that the state needs no owner of its own.
constexpr char kHiddenBehindTray[] = "vornelHiddenBehindTray";
constexpr char kGeometryBeforeHiding[] = "vornelGeometryBeforeHiding";
constexpr char kShownBeforeHiding[] = "vornelShownBeforeHiding";

void hideOthers(const QList<QWidget*>& others)
{
    for (QWidget* window : others) {
        if (window == nullptr)
            continue;
        window->setProperty(kShownBeforeHiding, window->isVisible());
        window->hide();
    }
}

void showOthersShownBefore(const QList<QWidget*>& others)
{
    for (QWidget* window : others) {
        if (window == nullptr)
            continue;
        if (window->property(kShownBeforeHiding).toBool())
            window->show();
        window->setProperty(kShownBeforeHiding, QVariant());
    }
}

} // namespace

void HideApplication(QWidget* mainWindow, const QList<QWidget*>& others)
{
    if (mainWindow == nullptr || !mainWindow->isVisible())
        return;
    mainWindow->setProperty(kGeometryBeforeHiding, mainWindow->saveGeometry());
    mainWindow->setProperty(kHiddenBehindTray, true);
    hideOthers(others);
    mainWindow->hide();
}

void ShowApplication(QWidget* mainWindow, const QList<QWidget*>& others)
{
    if (mainWindow == nullptr)
        return;
    const bool hiddenBehindTray = mainWindow->property(kHiddenBehindTray).toBool();
    if (hiddenBehindTray)
        mainWindow->restoreGeometry(mainWindow->property(kGeometryBeforeHiding).toByteArray());
    mainWindow->setWindowState(mainWindow->windowState() & ~Qt::WindowMinimized);
    mainWindow->show();
    mainWindow->raise();
    mainWindow->activateWindow();
    if (hiddenBehindTray)
        showOthersShownBefore(others);
    mainWindow->setProperty(kHiddenBehindTray, QVariant());
    mainWindow->setProperty(kGeometryBeforeHiding, QVariant());
}

bool isHiddenBehindTray(QWidget* mainWindow)
{
    return mainWindow != nullptr && mainWindow->property(kHiddenBehindTray).toBool();
}

void setReturnsWithApplication(QWidget* window, bool returns)
{
    if (window != nullptr)
        window->setProperty(kShownBeforeHiding, returns);
}

bool isApplicationVisible(QWidget* mainWindow)
{
    return mainWindow != nullptr && mainWindow->isVisible() && !mainWindow->isMinimized();
}

} // namespace vornel::desktop
