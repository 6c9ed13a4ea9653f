#pragma once
// The seek bar. The position tick moves it many times a second, and each change of its value
// costs a repaint (of the bar and of what lies under it) and an accessibility event, while the
// handle moves by a pixel only every few hundred ticks; so the bar takes a new position only
// when its handle lands on another pixel, or at either end of the range.
#include <QRect>
#include <QSlider>

namespace vornel::app {

class SeekBar : public QSlider {
public:
    explicit SeekBar(QWidget* parent = nullptr);

    // Shows a position (clamped into the range); value() is left as it is while the handle
    // would be drawn at the same place. The ends are always taken exactly.
    void follow(int position);
    // How far the value goes while the handle moves by one pixel (at least 1).
    int valuesPerPixel() const;

private:
    QRect handleAt(int value) const;
};

} // namespace vornel::app
