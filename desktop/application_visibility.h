#pragma once

#include <QList>

class QWidget;

namespace vornel::desktop {

// Hides the program behind its tray icon: the main window and the other top-level windows
// (the loading overlay) leave the screen and the taskbar. Does nothing when the main
// window is already hidden.
void HideApplication(QWidget* mainWindow, const QList<QWidget*>& others);

// Brings the program back: the main window where it was, at its size, not minimised, and
// those other windows that were on screen when it was hidden.
void ShowApplication(QWidget* mainWindow, const QList<QWidget*>& others);

// Whether the program is hidden behind its tray icon (HideApplication ran, ShowApplication
// not yet).
bool isHiddenBehindTray(QWidget* mainWindow);

// For one of the other windows while the program is hidden: whether it comes back when the
// program is shown. A window closed meanwhile must stay closed; one opened meanwhile waits
// for the program to come back.
void setReturnsWithApplication(QWidget* window, bool returns);

// Whether the main window is on screen (shown and not minimised), covered or not.
bool isApplicationVisible(QWidget* mainWindow);

} // namespace vornel::desktop
