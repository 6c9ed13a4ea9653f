#pragma once
// The seek bar as assistive technologies see it: a slider whose value is the playing
// position in seconds (the bar itself counts bytes of the stream), and whose value a screen
// reader may set to seek.
#include <QAccessibleWidget>

#include <functional>

class QSlider;

namespace vornel::app {

struct SeekBarTime {
    std::function<double()> bytesPerSecond; // of the current stream; 0 or less when none
    std::function<void(double seconds)> seekTo;
};

// From now on the bar's accessible interface speaks in seconds, with `time` converting.
void describeSeekBarInSeconds(QSlider* bar, SeekBarTime time);

class SeekBarAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    SeekBarAccessible(QSlider* bar, SeekBarTime time);

    QAccessible::Role role() const override { return QAccessible::Slider; }
    QString text(QAccessible::Text t) const override;
    void* interface_cast(QAccessible::InterfaceType type) override;

    QVariant currentValue() const override;
    void setCurrentValue(const QVariant& value) override;
    QVariant maximumValue() const override;
    QVariant minimumValue() const override;
    QVariant minimumStepSize() const override;

private:
    QSlider* bar() const;
    double seconds(int bytes) const;

    SeekBarTime time_;
};

} // namespace vornel::app
