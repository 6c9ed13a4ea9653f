#pragma once
// The dark skin that draws the window and its controls: a palette and a style sheet
// compiled into the program.
#include <QFont>

class QApplication;

namespace vornel::app {

// The window's font, "MS Sans Serif" at 11 pixels, or a narrow sans serif of that size
// where it is missing, so that the captions stay within their controls.
QFont windowFont();

// Palette, style sheet and font for every window of the program.
void applySkin(QApplication& application);

} // namespace vornel::app
