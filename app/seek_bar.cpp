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

int SeekBar::valuesPerPixel() const
{
    const int travel = handleAt(maximum()).left() - handleAt(minimum()).left();
    const int64_t range = int64_t{maximum()} - minimum();
    return static_cast<int>(std::max<int64_t>(1, travel > 0 ? range / travel : range));
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
