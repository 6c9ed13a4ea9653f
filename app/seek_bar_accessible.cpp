#include "app/seek_bar_accessible.h"

#include <QPointer>
#include <QSlider>

#include <map>

namespace vornel::app {
namespace {

// The bars that speak in seconds, each with its converter; an entry goes with its bar.
std::map<const QObject*, SeekBarTime>& seekBars()
{
    static std::map<const QObject*, SeekBarTime> bars;
    return bars;
}

QAccessibleInterface* makeSeekBarAccessible(const QString& /*className*/, QObject* object)
{
    const auto found = seekBars().find(object);
    if (found == seekBars().end())
        return nullptr;
    return new SeekBarAccessible(static_cast<QSlider*>(object), found->second);
}

QString minutesAndSeconds(double seconds)
{
    const auto whole = static_cast<long long>(seconds);
    return QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

void describeSeekBarInSeconds(QSlider* bar, SeekBarTime time)
{
    static const bool installed = [] {
        QAccessible::installFactory(makeSeekBarAccessible);
        return true;
    }();
    (void)installed;
    seekBars()[bar] = std::move(time);
    QObject::connect(bar, &QObject::destroyed, [bar] { seekBars().erase(bar); });
    // An interface made for the bar before (by an event of its own) would stay in Qt's cache.
    if (QAccessibleInterface* made = QAccessible::queryAccessibleInterface(bar);
        made && !dynamic_cast<SeekBarAccessible*>(made))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
}

SeekBarAccessible::SeekBarAccessible(QSlider* bar, SeekBarTime time)
    : QAccessibleWidget(bar, QAccessible::Slider), time_(std::move(time))
{}

QSlider* SeekBarAccessible::bar() const
{
    return static_cast<QSlider*>(widget());
}

double SeekBarAccessible::seconds(int bytes) const
{
    const double perSecond = time_.bytesPerSecond ? time_.bytesPerSecond() : 0.0;
    return perSecond > 0 ? bytes / perSecond : 0.0;
}

QString SeekBarAccessible::text(QAccessible::Text t) const
{
    if (t == QAccessible::Value)
        return minutesAndSeconds(currentValue().toDouble()) + QStringLiteral(" of ") +
               minutesAndSeconds(maximumValue().toDouble());
    return QAccessibleWidget::text(t);
}

void* SeekBarAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::ValueInterface)
        return static_cast<QAccessibleValueInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
}

QVariant SeekBarAccessible::currentValue() const
{
    return seconds(bar()->value());
}

// Only a bar that the user could move seeks.
void SeekBarAccessible::setCurrentValue(const QVariant& value)
{
    bool isNumber = false;
    const double seconds = value.toDouble(&isNumber);
    if (isNumber && seconds >= 0 && bar()->isEnabled() && time_.seekTo)
        time_.seekTo(std::min(seconds, maximumValue().toDouble()));
}

QVariant SeekBarAccessible::maximumValue() const
{
    return seconds(bar()->maximum());
}

QVariant SeekBarAccessible::minimumValue() const
{
    return 0.0;
}

QVariant SeekBarAccessible::minimumStepSize() const
{
    return 1.0;
}

} // namespace vornel::app
