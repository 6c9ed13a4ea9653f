#pragma once
// Plays the loading animation into a child X window of its own, from a thread with its
// own X connection, so the frames keep coming while the window thread is blocked.
#include "gif/gif_picture.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

namespace vornel::app {

class X11Animator {
public:
    // Creates the child window at (x, y) inside parentWindow on the named display (empty:
    // $DISPLAY) and starts the thread. Throws std::runtime_error when X cannot be used.
    X11Animator(const gif::GifPicture& picture, unsigned long parentWindow, const std::string& displayName, int x,
                int y, uint32_t emptyColour);
    ~X11Animator(); // stops and joins the thread, then removes the window
    X11Animator(const X11Animator&) = delete;
    X11Animator& operator=(const X11Animator&) = delete;

    // While hidden the animation rests; shown again it redraws and goes on.
    void setVisible(bool visible);
    uint64_t framesDrawn() const { return framesDrawn_.load(); }

private:
    struct X;
    void run();
    void wake();

    const gif::GifPicture& picture_;
    uint32_t emptyColour_;
    std::unique_ptr<X> x_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> visible_{false};
    std::atomic<uint64_t> framesDrawn_{0};
    int wakeRead_ = -1, wakeWrite_ = -1;
    std::thread thread_;
};

} // namespace vornel::app
