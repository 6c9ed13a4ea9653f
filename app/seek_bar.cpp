#include "app/seek_bar.h"

#include <QStyle>
#include <QStyleOptionSlider>

#include <algorithm>

namespace vornel::app {

SeekBar::SeekBar(QWidget* parent) : QSlider(Qt::Horizontal, parent) {}

void SeekBar::follow(int position)
{
    const int target = std::clamp(position, minimum(), maximum());
    if (target == value())
        return;
    const bool atAnEnd = target == minimum() || target == maximum();
    if (!atAnEnd && handleAt(target) == handleAt(value()))
        return;
    setValue(target);
}

QRect SeekBar::handleAt(int value) const
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    option.sliderPosition = value;
    option.sliderValue = value;
    return style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
}

} // namespace vornel::app
