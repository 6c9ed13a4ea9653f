/* A small X11 client for the end-to-end checks.
 *   x11_probe grab-hotkeys    tries to grab Ctrl+Shift+D, W, Q and P on the root window;
 *                             prints one line per key ("D free" or "D taken"), exit 0
 *                             when all four could be grabbed, 1 when any is taken.
 *   x11_probe close WINDOW    asks the window to close the way a window manager's close
 *                             box does (WM_DELETE_WINDOW); exit 0 when sent.
 * The display is taken from $DISPLAY. Exit 2 on usage or connection errors. */
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int grab_refused;

static int note_error(Display* display, XErrorEvent* event)
{
    (void)display;
    if (event->error_code == BadAccess)
        grab_refused = 1;
    return 0;
}

/* Grabs the key with exactly Ctrl+Shift; 1 when the server accepted the grab. */
static int try_grab(Display* display, Window root, KeySym sym)
{
    KeyCode code = XKeysymToKeycode(display, sym);
    if (code == 0)
        return 0;
    grab_refused = 0;
    XGrabKey(display, code, ControlMask | ShiftMask, root, True, GrabModeAsync, GrabModeAsync);
    XSync(display, False);
    if (grab_refused)
        return 0;
    XUngrabKey(display, code, ControlMask | ShiftMask, root);
    XSync(display, False);
    return 1;
}

static int grab_hotkeys(Display* display)
{
    static const struct {
        const char* name;
        KeySym sym;
    } keys[] = {{"D", XK_d}, {"W", XK_w}, {"Q", XK_q}, {"P", XK_p}};
    Window root = DefaultRootWindow(display);
    int all_free = 1;
    XSetErrorHandler(note_error);
    for (size_t i = 0; i < sizeof keys / sizeof keys[0]; ++i) {
        int free_now = try_grab(display, root, keys[i].sym);
        printf("%s %s\n", keys[i].name, free_now ? "free" : "taken");
        if (!free_now)
            all_free = 0;
    }
    return all_free ? 0 : 1;
}

static int close_window(Display* display, const char* id_text)
{
    char* end = NULL;
    unsigned long id = strtoul(id_text, &end, 0);
    if (!end || *end != '\0' || id == 0) {
        fprintf(stderr, "x11_probe: bad window id %s\n", id_text);
        return 2;
    }
    XEvent event;
    memset(&event, 0, sizeof event);
    event.xclient.type = ClientMessage;
    event.xclient.window = (Window)id;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = (long)XInternAtom(display, "WM_DELETE_WINDOW", False);
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, (Window)id, False, NoEventMask, &event);
    XSync(display, False);
    return 0;
}

int main(int argc, char** argv)
{
    if (argc < 2 || (strcmp(argv[1], "close") == 0 && argc != 3)) {
        fprintf(stderr, "usage: x11_probe grab-hotkeys | close WINDOW\n");
        return 2;
    }
    Display* display = XOpenDisplay(NULL);
    if (!display) {
        fprintf(stderr, "x11_probe: cannot open display %s\n", getenv("DISPLAY") ? getenv("DISPLAY") : "(unset)");
        return 2;
    }
    int status = 2;
    if (strcmp(argv[1], "grab-hotkeys") == 0)
        status = grab_hotkeys(display);
    else if (strcmp(argv[1], "close") == 0)
        status = close_window(display, argv[2]);
    else
        fprintf(stderr, "x11_probe: unknown command %s\n", argv[1]);
    XCloseDisplay(display);
    return status;
}
