// Asks a window to close as a window manager's close button does (the
// WM_DELETE_WINDOW message): the X server of scripts/screenshots has no
// window manager, and its client quits only when its window is closed.
//   quorvane-close-window WINDOW-ID
// Run with the DISPLAY of the program shown.
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: quorvane-close-window WINDOW-ID\n");
        return 2;
    }
    char* end = nullptr;
    const Window window = std::strtoul(argv[1], &end, 0);
    Display* display = XOpenDisplay(nullptr);
    if (!display || *end != '\0' || window == 0) {
        std::fprintf(stderr, "no display or no such window: %s\n", argv[1]);
        return 1;
    }
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const Status sent = XSendEvent(display, window, False, NoEventMask, &event);
    XCloseDisplay(display);
    return sent ? 0 : 1;
}
