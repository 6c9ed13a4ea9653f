#include "app/loading_overlay.h"

#include "app/loading_x11_animator.h"

#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <QtGui/qguiapplication_platform.h>

#include <stdexcept>

#include <X11/Xlib.h> // last: its macros clash with Qt's names

namespace {

const QColor kBackground(0x2C, 0x2A, 0x26);

vornel::gif::GifPicture loadAnimation()
{
    QFile file(QStringLiteral(":/loading.gif"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    try {
        return vornel::gif::decodeGif(bytes.toStdString());
    } catch (const std::runtime_error&) {
        return {}; // the overlay then shows its background only
    }
}

std::string x11DisplayName()
{
    if (auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>())
        if (Display* display = x11->display())
            return XDisplayString(display);
    return {};
}

} // namespace

LoadingOverlay::LoadingOverlay(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint), picture_(loadAnimation())
{
    setWindowTitle(QStringLiteral("Loading, please wait..."));
    setAttribute(Qt::WA_DeleteOnClose, false);
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(11);
    setFont(font);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, kBackground);
    setPalette(colours);
    setAutoFillBackground(true);
    resize(543, 365);
    frameTimer_.setSingleShot(true);
    frameTimer_.setTimerType(Qt::PreciseTimer);
    connect(&frameTimer_, &QTimer::timeout, this, &LoadingOverlay::showNextPaintedFrame);
    startDrawing();
}

LoadingOverlay::~LoadingOverlay()
{
    animator_.reset(); // joins the animation thread before the native window goes
}

void LoadingOverlay::startDrawing()
{
    if (picture_.frames.empty())
        return;
    const uint32_t empty = kBackground.rgb() & 0xFFFFFF;
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        try {
            animator_ = std::make_unique<vornel::app::X11Animator>(picture_, static_cast<unsigned long>(winId()),
                                                                   x11DisplayName(), kPicturePosition.x(),
                                                                   kPicturePosition.y(), empty);
            return;
        } catch (const std::runtime_error&) {
            animator_.reset(); // paint on the window thread instead
        }
    }
    canvas_ = std::make_unique<vornel::gif::GifCanvas>(picture_, empty);
    frameIndex_ = picture_.frames.size() - 1; // the first step shows frame 0
}

void LoadingOverlay::placeAt(const QPoint& screenTopLeft)
{
    move(screenTopLeft);
}

void LoadingOverlay::resizeTo(const QSize& size)
{
    resize(size);
}

void LoadingOverlay::showOverlay()
{
    show();
    raise();
    activateWindow();
}

void LoadingOverlay::closeOverlay()
{
    hide();
}

uint64_t LoadingOverlay::framesDrawn() const
{
    return animator_ ? animator_->framesDrawn() : paintedFrames_;
}

void LoadingOverlay::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (animator_)
        animator_->setVisible(true);
    else if (canvas_ && !frameTimer_.isActive())
        showNextPaintedFrame();
}

void LoadingOverlay::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    if (animator_)
        animator_->setVisible(false);
    frameTimer_.stop();
}

void LoadingOverlay::showNextPaintedFrame()
{
    frameIndex_ = (frameIndex_ + 1) % picture_.frames.size();
    canvas_->draw(picture_.frames[frameIndex_]);
    if (paintedFrame_.isNull())
        paintedFrame_ = QImage(canvas_->width(), canvas_->height(), QImage::Format_RGB32);
    const std::vector<uint32_t>& pixels = canvas_->pixels();
    for (int y = 0; y < canvas_->height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(paintedFrame_.scanLine(y));
        for (int x = 0; x < canvas_->width(); ++x)
            line[x] = 0xFF000000u | pixels[static_cast<size_t>(y) * canvas_->width() + x];
    }
    ++paintedFrames_;
    update(QRect(kPicturePosition, paintedFrame_.size()));
    frameTimer_.start(vornel::gif::frameDurationMs(picture_.frames[frameIndex_]));
}

void LoadingOverlay::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    if (paintedFrame_.isNull())
        return;
    QPainter painter(this);
    painter.drawImage(kPicturePosition, paintedFrame_);
}
