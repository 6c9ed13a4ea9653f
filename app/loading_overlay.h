#pragma once
// frmLoading: the borderless window with the loading animation that covers the playlist
// while a catalogue page loads.
#include "gif/gif_picture.h"

#include <QImage>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <memory>

namespace vornel::app {
class X11Animator;
}

class LoadingOverlay : public QWidget {
    Q_OBJECT

public:
    // A frameless top-level tool window (no taskbar entry), created hidden.
    explicit LoadingOverlay(QWidget* parent = nullptr);
    ~LoadingOverlay() override;

    void placeAt(const QPoint& screenTopLeft);
    void resizeTo(const QSize& size);
    // Visible above the main window and the active window.
    void showOverlay();
    // Hidden; the window and its animation stay for the next load.
    void closeOverlay();

    // Frames drawn since creation, whichever way they are drawn.
    uint64_t framesDrawn() const;
    // Whether the frames come from the animation thread (X11) rather than the window thread.
    bool drawsOnItsOwnThread() const { return animator_ != nullptr; }

    static constexpr QPoint kPicturePosition{8, -36};

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void startDrawing();
    void showNextPaintedFrame();

    vornel::gif::GifPicture picture_;
    std::unique_ptr<vornel::app::X11Animator> animator_;
    // Painting on the window thread, where no X display is at hand (offscreen platform).
    std::unique_ptr<vornel::gif::GifCanvas> canvas_;
    QImage paintedFrame_;
    QTimer frameTimer_;
    size_t frameIndex_ = 0;
    uint64_t paintedFrames_ = 0;
};
