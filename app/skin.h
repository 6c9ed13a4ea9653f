#pragma once
// The dark skin that draws the window and its controls: a palette and a style sheet
// compiled into the program.
class QApplication;

void applySkin(QApplication& application);
