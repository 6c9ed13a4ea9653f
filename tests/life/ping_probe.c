/* Measures how long a window's event loop takes to answer, the way a window manager
 * notices a frozen window: it sends _NET_WM_PING to the window every INTERVAL_MS and waits
 * for the reply that the toolkit sends back to the root window.
 *
 *   ping_probe WINDOW [INTERVAL_MS]
 *
 * Runs until its standard input is closed (and the ping in flight then was answered, or
 * five more seconds passed), then prints one line
 *   pings N answered M longest L ms
 * where L is the longest time any ping waited for its answer (a ping still unanswered at
 * the end counts with the time it has waited so far). Exit 0 when it ran, 2 on usage or
 * connection errors. The display is taken from $DISPLAY. */
#include <X11/Xlib.h>
#include <X11/Xatom.h>
#include <errno.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#define LAST_ANSWER_GRACE_MS 5000.0

static double now_ms(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

static void send_ping(Display* display, Window window, Atom protocols, Atom ping, long serial)
{
    XEvent event;
    memset(&event, 0, sizeof event);
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = protocols;
    event.xclient.format = 32;
    event.xclient.data.l[0] = (long)ping;
    event.xclient.data.l[1] = serial; /* stands in for the timestamp; echoed back unchanged */
    event.xclient.data.l[2] = (long)window;
    XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);
}

/* The serial of an answer to one of our pings, or -1 for any other event. */
static long answer_serial(const XEvent* event, Window window, Atom protocols, Atom ping)
{
    if (event->type != ClientMessage || event->xclient.message_type != protocols)
        return -1;
    if ((Atom)event->xclient.data.l[0] != ping || (Window)event->xclient.data.l[2] != window)
        return -1;
    return event->xclient.data.l[1];
}

/* A window that went away makes the pings fail; the summary still comes at the end. */
static int ignore_error(Display* display, XErrorEvent* event)
{
    (void)display;
    (void)event;
    return 0;
}

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        fprintf(stderr, "usage: ping_probe WINDOW [INTERVAL_MS]\n");
        return 2;
    }
    char* end = NULL;
    const Window window = (Window)strtoul(argv[1], &end, 0);
    const int interval = argc == 3 ? atoi(argv[2]) : 20;
    if (!end || *end != '\0' || window == 0 || interval <= 0) {
        fprintf(stderr, "ping_probe: bad arguments\n");
        return 2;
    }
    Display* display = XOpenDisplay(NULL);
    if (!display) {
        fprintf(stderr, "ping_probe: cannot open display\n");
        return 2;
    }
    XSetErrorHandler(ignore_error);
    const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    const Atom ping = XInternAtom(display, "_NET_WM_PING", False);
    /* The toolkit answers to the root window with StructureNotify and SubstructureRedirect. */
    XSelectInput(display, DefaultRootWindow(display), StructureNotifyMask);
    XSync(display, False);

    long sent = 0, answered = 0;
    double longest = 0.0, sent_at = 0.0, input_closed_at = 0.0;
    int waiting = 0, input_open = 1;
    double next_send = now_ms();
    /* After the input closes, the ping in flight gets a last grace period to be answered. */
    while (input_open || (waiting && now_ms() - input_closed_at < LAST_ANSWER_GRACE_MS)) {
        const double t = now_ms();
        if (input_open && !waiting && t >= next_send) {
            send_ping(display, window, protocols, ping, ++sent);
            sent_at = t;
            waiting = 1;
            next_send = t + interval;
        }
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (waiting && answer_serial(&event, window, protocols, ping) == sent) {
                const double waited = now_ms() - sent_at;
                if (waited > longest)
                    longest = waited;
                ++answered;
                waiting = 0;
            }
        }
        struct pollfd fds[2] = {{ConnectionNumber(display), POLLIN, 0}, {input_open ? STDIN_FILENO : -1, POLLIN, 0}};
        const double until = waiting ? 50.0 : next_send - now_ms();
        const int timeout = until < 1.0 ? 1 : (int)until;
        if (poll(fds, 2, timeout) < 0 && errno != EINTR)
            break;
        if (input_open && (fds[1].revents & (POLLIN | POLLHUP))) {
            char bytes[64];
            if (read(STDIN_FILENO, bytes, sizeof bytes) <= 0) {
                input_open = 0;
                input_closed_at = now_ms();
            }
        }
    }
    if (waiting && now_ms() - sent_at > longest)
        longest = now_ms() - sent_at;
    printf("pings %ld answered %ld longest %.0f ms\n", sent, answered, longest);
    XCloseDisplay(display);
    return 0;
}
