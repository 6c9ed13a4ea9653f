#include "app/loading_x11_animator.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>

namespace vornel::app {

using gif::frameDurationMs;
using gif::GifCanvas;
using gif::GifPicture;

namespace {

using Clock = std::chrono::steady_clock;

// Scales an 8-bit channel into the bits of a visual's colour mask.
unsigned long channel(uint32_t value8, unsigned long mask)
{
    if (mask == 0)
        return 0;
    int shift = 0;
    while (!((mask >> shift) & 1))
        ++shift;
    const unsigned long maximum = mask >> shift;
    return ((value8 * maximum + 127) / 255) << shift;
}

} // namespace

struct X11Animator::X {
    Display* display = nullptr;
    Window window = 0;
    GC gc = nullptr;
    XImage* image = nullptr;
    Visual* visual = nullptr;
    int width = 0, height = 0;

    ~X()
    {
        if (image)
            XDestroyImage(image); // frees the pixel buffer too
        if (gc)
            XFreeGC(display, gc);
        if (window)
            XDestroyWindow(display, window);
        if (display)
            XCloseDisplay(display);
    }

    void put(const GifCanvas& canvas)
    {
        const std::vector<uint32_t>& pixels = canvas.pixels();
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const uint32_t rgb = pixels[static_cast<size_t>(y) * width + x];
                XPutPixel(image, x, y,
                          channel((rgb >> 16) & 0xFF, visual->red_mask) |
                              channel((rgb >> 8) & 0xFF, visual->green_mask) | channel(rgb & 0xFF, visual->blue_mask));
            }
        XPutImage(display, window, gc, image, 0, 0, 0, 0, width, height);
        XFlush(display);
    }
};

X11Animator::X11Animator(const GifPicture& picture, unsigned long parentWindow, const std::string& displayName, int x,
                         int y, uint32_t emptyColour)
    : picture_(picture), emptyColour_(emptyColour), x_(std::make_unique<X>())
{
    XInitThreads();
    x_->display = XOpenDisplay(displayName.empty() ? nullptr : displayName.c_str());
    if (!x_->display)
        throw std::runtime_error("Cannot open the X display");
    XWindowAttributes parent;
    if (!XGetWindowAttributes(x_->display, parentWindow, &parent) || parent.visual->c_class != TrueColor)
        throw std::runtime_error("The overlay's X window cannot take the animation");
    x_->visual = parent.visual;
    x_->width = picture.width;
    x_->height = picture.height;

    XSetWindowAttributes attributes{};
    attributes.background_pixmap = None; // no flash of a background before the first frame
    attributes.border_pixel = 0;
    attributes.colormap = parent.colormap;
    attributes.event_mask = ExposureMask;
    x_->window =
        XCreateWindow(x_->display, parentWindow, x, y, picture.width, picture.height, 0, parent.depth, InputOutput,
                      parent.visual, CWBackPixmap | CWBorderPixel | CWColormap | CWEventMask, &attributes);
    x_->gc = XCreateGC(x_->display, x_->window, 0, nullptr);
    char* buffer = static_cast<char*>(std::calloc(static_cast<size_t>(picture.width) * picture.height, 4));
    x_->image = XCreateImage(x_->display, parent.visual, parent.depth, ZPixmap, 0, buffer, picture.width,
                             picture.height, 32, 0);
    if (!x_->image) {
        std::free(buffer);
        throw std::runtime_error("Cannot make the animation's X image");
    }
    XMapWindow(x_->display, x_->window);
    XFlush(x_->display);

    int pipeEnds[2];
    if (pipe2(pipeEnds, O_NONBLOCK | O_CLOEXEC) != 0)
        throw std::runtime_error("Cannot make the animation's wake-up pipe");
    wakeRead_ = pipeEnds[0];
    wakeWrite_ = pipeEnds[1];
    thread_ = std::thread([this] { run(); });
}

X11Animator::~X11Animator()
{
    stop_ = true;
    wake();
    if (thread_.joinable())
        thread_.join();
    x_.reset();
    if (wakeRead_ >= 0)
        close(wakeRead_);
    if (wakeWrite_ >= 0)
        close(wakeWrite_);
}

void X11Animator::setVisible(bool visible)
{
    visible_ = visible;
    wake();
}

void X11Animator::wake()
{
    if (wakeWrite_ >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t written = write(wakeWrite_, &byte, 1);
    }
}

void X11Animator::run()
{
    GifCanvas canvas(picture_, emptyColour_);
    size_t frame = 0;
    canvas.draw(picture_.frames[frame]);
    bool wasVisible = false;
    Clock::time_point due = Clock::now();
    while (!stop_) {
        const bool visible = visible_;
        if (visible && !wasVisible) {
            x_->put(canvas);
            ++framesDrawn_;
            due = Clock::now() + std::chrono::milliseconds(frameDurationMs(picture_.frames[frame]));
        }
        wasVisible = visible;

        int timeoutMs = -1;
        if (visible) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now());
            timeoutMs = static_cast<int>(std::max<int64_t>(0, left.count()));
        }
        pollfd waits[2] = {{ConnectionNumber(x_->display), POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        if (!XPending(x_->display))
            poll(waits, 2, timeoutMs);
        char drained[64];
        while (read(wakeRead_, drained, sizeof drained) > 0) {}

        bool exposed = false;
        while (XPending(x_->display)) {
            XEvent event;
            XNextEvent(x_->display, &event);
            exposed = exposed || event.type == Expose;
        }
        if (!visible_)
            continue;
        const Clock::time_point now = Clock::now();
        if (now >= due) {
            frame = (frame + 1) % picture_.frames.size();
            canvas.draw(picture_.frames[frame]);
            x_->put(canvas);
            ++framesDrawn_;
            due += std::chrono::milliseconds(frameDurationMs(picture_.frames[frame]));
            if (due < now) // far behind (the machine stalled): pick the beat up from here
                due = now + std::chrono::milliseconds(frameDurationMs(picture_.frames[frame]));
        } else if (exposed) {
            x_->put(canvas);
        }
    }
}

} // namespace vornel::app
