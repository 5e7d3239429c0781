// xclose WINDOW: asks an X11 window to close the way a window manager does
// when the user clicks the title bar's close button (a WM_DELETE_WINDOW
// client message). The bare Xvfb of the end-to-end tests runs no window
// manager, and xdotool of Debian 12 cannot send this message.
// Exit status: 0 sent, 1 no display or the window does not take the
// message, 2 bad usage.
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool acceptsDelete(Display *display, Window window, Atom deleteAtom) {
    Atom *protocols = nullptr;
    int count = 0;
    if (XGetWMProtocols(display, window, &protocols, &count) == 0) {
        return false;
    }
    bool found = false;
    for (int i = 0; i < count; ++i) {
        found = found || protocols[i] == deleteAtom;
    }
    XFree(protocols);
    return found;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: xclose WINDOW_ID\n");
        return 2;
    }
    char *end = nullptr;
    const unsigned long id = std::strtoul(argv[1], &end, 0);
    if (end == argv[1] || *end != '\0' || id == 0) {
        std::fprintf(stderr, "xclose: not a window id: %s\n", argv[1]);
        return 2;
    }
    Display *display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "xclose: cannot open the display\n");
        return 1;
    }
    const Window window = id;
    const Atom protocolsAtom = XInternAtom(display, "WM_PROTOCOLS", False);
    const Atom deleteAtom = XInternAtom(display, "WM_DELETE_WINDOW", False);
    int status = 1;
    if (acceptsDelete(display, window, deleteAtom)) {
        XEvent event;
        std::memset(&event, 0, sizeof event);
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = protocolsAtom;
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(deleteAtom);
        event.xclient.data.l[1] = CurrentTime;
        if (XSendEvent(display, window, False, NoEventMask, &event) != 0) {
            status = 0;
        }
        XSync(display, False);
    } else {
        std::fprintf(stderr, "xclose: window %s does not take WM_DELETE_WINDOW\n", argv[1]);
    }
    XCloseDisplay(display);
    return status;
}
