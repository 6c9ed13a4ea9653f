#include "app/track_label.h"

#include <QEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>

namespace vornel::app {

void TrackLabel::paintEvent(QPaintEvent*)
{
    if (!pictureIsCurrent())
        drawPicture();
    QPainter painter(this);
    painter.drawPixmap(0, 0, picture_);
}

void TrackLabel::changeEvent(QEvent* event)
{
    switch (event->type()) {
    case QEvent::FontChange:
    case QEvent::ApplicationFontChange:
    case QEvent::PaletteChange:
    case QEvent::EnabledChange:
    case QEvent::StyleChange:
    case QEvent::LayoutDirectionChange:
    case QEvent::ContentsRectChange: picture_ = QPixmap(); break;
    default: break;
    }
    QLabel::changeEvent(event);
}

bool TrackLabel::pictureIsCurrent() const
{
    return !picture_.isNull() && picture_.deviceIndependentSize() == QSizeF(size()) &&
           picture_.devicePixelRatio() == devicePixelRatioF() && pictureText_ == text() &&
           pictureAlignment_ == alignment() && pictureWrapped_ == wordWrap();
}

void TrackLabel::drawPicture()
{
    const qreal ratio = devicePixelRatioF();
    picture_ = QPixmap(size() * ratio);
    picture_.setDevicePixelRatio(ratio);
    picture_.fill(Qt::transparent);
    pictureText_ = text();
    pictureAlignment_ = alignment();
    pictureWrapped_ = wordWrap();

    QPainter painter(&picture_);
    QStyleOption option;
    option.initFrom(this);
    const bool rightToLeft = pictureText_.isRightToLeft();
    int flags =
        static_cast<int>(QStyle::visualAlignment(rightToLeft ? Qt::RightToLeft : Qt::LeftToRight, pictureAlignment_));
    flags |= rightToLeft ? Qt::TextForceRightToLeft : Qt::TextForceLeftToRight;
    if (pictureWrapped_)
        flags |= Qt::TextWordWrap;
    const int m = margin();
    const QRect area = contentsRect().adjusted(m, m, -m, -m);
    style()->drawItemText(&painter, area, flags, option.palette, isEnabled(), pictureText_, foregroundRole());
}

} // namespace vornel::app
