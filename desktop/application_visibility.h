#pragma once

#include <QList>

class QWidget;

// Hides the program behind its tray icon: the main window and the other top-level windows
// (the loading overlay) leave the screen and the taskbar. Does nothing when the main
// window is already hidden.
void HideApplication(QWidget* mainWindow, const QList<QWidget*>& others);

// Brings the program back: the main window where it was, at its size, not minimised, and
// those other windows that were on screen when it was hidden.
void ShowApplication(QWidget* mainWindow, const QList<QWidget*>& others);

// Whether the main window is on screen (shown and not minimised), covered or not.
bool isApplicationVisible(QWidget* mainWindow);
