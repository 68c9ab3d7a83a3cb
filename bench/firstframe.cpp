// Time from a program's start to its first frame on the X display: starts the
// program and waits for X events, no polling. The window manager-free display
// (Xvfb) reports every top-level window's creation and mapping on the root
// window; a Damage object on each new window reports the program's first drawing
// into it once it is mapped.
//
//   firstframe PROGRAM [ARG...]     prints "map_ms=<to mapped> frame_ms=<to first drawing>"
//
// The program is ended (SIGTERM) once its first frame is seen. Exits 1 when it
// ends first, or after 60 s without a frame.

#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>

#include <csignal>
#include <cstdio>
#include <ctime>
#include <set>
#include <sys/select.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

double nowMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// A window may go before its Damage object is made; that is no failure here.
int ignoreErrors(Display *, XErrorEvent *)
{
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: firstframe PROGRAM [ARG...]\n");
        return 2;
    }
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "firstframe: no display\n");
        return 2;
    }
    int damageEvent = 0;
    int damageError = 0;
    if (!XDamageQueryExtension(display, &damageEvent, &damageError)) {
        std::fprintf(stderr, "firstframe: the display has no DAMAGE extension\n");
        return 2;
    }
    XSetErrorHandler(ignoreErrors);
    const Window root = DefaultRootWindow(display);
    XSelectInput(display, root, SubstructureNotifyMask);
    XSync(display, False);

    const double start = nowMs();
    const pid_t child = fork();
    if (child == 0) {
        execvp(argv[1], argv + 1);
        _exit(127);
    }
    if (child < 0)
        return 2;

    std::set<Window> mapped;
    double mapMs = -1;
    double frameMs = -1;
    const int fd = ConnectionNumber(display);
    bool ended = false;
    while (frameMs < 0 && nowMs() - start < 60000) {
        if (!XPending(display)) {
            // A program that ends without a frame ends the wait too.
            if (waitpid(child, nullptr, WNOHANG) == child) {
                ended = true;
                break;
            }
            fd_set fds;
            FD_ZERO(&fds);
            FD_SET(fd, &fds);
            timeval timeout{1, 0};
            select(fd + 1, &fds, nullptr, nullptr, &timeout);
            continue;
        }
        XEvent event;
        XNextEvent(display, &event);
        const double t = nowMs() - start;
        if (event.type == CreateNotify) {
            XDamageCreate(display, event.xcreatewindow.window, XDamageReportNonEmpty);
            XFlush(display);
        } else if (event.type == MapNotify) {
            mapped.insert(event.xmap.window);
            if (mapMs < 0)
                mapMs = t;
        } else if (event.type == damageEvent + XDamageNotify) {
            const auto &damage = reinterpret_cast<const XDamageNotifyEvent &>(event);
            if (mapped.count(damage.drawable))
                frameMs = t;
        }
    }
    if (!ended) {
        kill(child, SIGTERM);
        waitpid(child, nullptr, 0);
    }
    std::printf("map_ms=%.3f frame_ms=%.3f\n", mapMs, frameMs);
    XCloseDisplay(display);
    return frameMs < 0 ? 1 : 0;
}
