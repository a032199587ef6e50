// The key latency probe of the terminal benchmark: types keys into a
// terminal's window through XTEST (as xdotool does) and times each from the
// key's press to the first change of the window's pixels after it (DAMAGE):
// the terminal's echo of the key, painted. The terminal must echo what is
// typed and show nothing else meanwhile (a command such as
// "stty -icanon; cat >/dev/null", a steady cursor).
//
//   keylatency TITLE COUNT
//
// Waits up to 30 s for a visible window named TITLE, types COUNT keys a
// random 30 to 80 ms apart, and prints each latency in milliseconds, one a
// line, then "median M p90 P missed N" (a key whose echo did not show
// within a second is missed). Exits 1 when there is no such window.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xdamage.h>
#include <X11/keysym.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using CLOCK = std::chrono::steady_clock;

bool NameIs(Display* dpy, Window w, char const* title)
{
    char* name = nullptr;
    bool same = false;
    if (XFetchName(dpy, w, &name) && name)
        same = strcmp(name, title) == 0;
    if (name)
        XFree(name);
    if (same)
        return true;
    // A window manager's or toolkit's UTF-8 name.
    Atom const netName = XInternAtom(dpy, "_NET_WM_NAME", False);
    Atom const utf8 = XInternAtom(dpy, "UTF8_STRING", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(dpy, w, netName, 0, 1024, False, utf8, &type, &format, &count, &after, &data) ==
            Success &&
        data) {
        same = type == utf8 && std::string(reinterpret_cast<char*>(data), count) == title;
        XFree(data);
    }
    return same;
}

bool Viewable(Display* dpy, Window w)
{
    XWindowAttributes a{};
    return XGetWindowAttributes(dpy, w, &a) && a.map_state == IsViewable;
}

// The visible window named title under w, or None.
Window Find(Display* dpy, Window w, char const* title)
{
    if (NameIs(dpy, w, title) && Viewable(dpy, w))
        return w;
    Window root = None, parent = None, *children = nullptr;
    unsigned int n = 0;
    if (!XQueryTree(dpy, w, &root, &parent, &children, &n))
        return None;
    Window found = None;
    for (unsigned int i = 0; i < n && found == None; ++i)
        found = Find(dpy, children[i], title);
    if (children)
        XFree(children);
    return found;
}

// w and every window inside it.
void Tree(Display* dpy, Window w, std::vector<Window>& out)
{
    out.push_back(w);
    Window root = None, parent = None, *children = nullptr;
    unsigned int n = 0;
    if (!XQueryTree(dpy, w, &root, &parent, &children, &n))
        return;
    for (unsigned int i = 0; i < n; ++i)
        Tree(dpy, children[i], out);
    if (children)
        XFree(children);
}

int IgnoreErrors(Display*, XErrorEvent*)
{
    return 0; // a window of the tree may go while it is looked at
}

// Takes the events that came; whether one was a damage report.
bool DrainDamage(Display* dpy, int damageBase)
{
    bool damaged = false;
    while (XPending(dpy) > 0) {
        XEvent e;
        XNextEvent(dpy, &e);
        if (e.type == damageBase + XDamageNotify)
            damaged = true;
    }
    return damaged;
}

double Percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    size_t const i = std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5));
    return v[i];
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: keylatency TITLE COUNT\n");
        return 2;
    }
    char const* const title = argv[1];
    int const count = std::max(1, atoi(argv[2]));
    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy) {
        fprintf(stderr, "keylatency: no X display\n");
        return 1;
    }
    XSetErrorHandler(IgnoreErrors);
    int event = 0, error = 0, major = 0, minor = 0, damageBase = 0, damageError = 0;
    if (!XTestQueryExtension(dpy, &event, &error, &major, &minor) ||
        !XDamageQueryExtension(dpy, &damageBase, &damageError)) {
        fprintf(stderr, "keylatency: the X server has no XTEST or DAMAGE\n");
        return 1;
    }
    Window target = None;
    for (auto const until = CLOCK::now() + std::chrono::seconds(30); target == None && CLOCK::now() < until;) {
        target = Find(dpy, DefaultRootWindow(dpy), title);
        if (target == None)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (target == None) {
        fprintf(stderr, "keylatency: no visible window \"%s\"\n", title);
        return 1;
    }
    // The key goes where the pointer and the focus are: into the window.
    XWindowAttributes a{};
    XGetWindowAttributes(dpy, target, &a);
    XWarpPointer(dpy, None, target, 0, 0, 0, 0, a.width / 2, a.height / 2);
    XSetInputFocus(dpy, target, RevertToParent, CurrentTime);
    // Its pixels, and those of the windows inside it, as the terminal draws.
    std::vector<Window> windows;
    Tree(dpy, target, windows);
    std::vector<Damage> damages;
    for (Window w : windows)
        damages.push_back(XDamageCreate(dpy, w, XDamageReportNonEmpty));
    XSync(dpy, False);

    KeyCode const key = XKeysymToKeycode(dpy, XK_a);
    std::mt19937 rng(4711);
    std::vector<double> latencies;
    int missed = 0;
    int const fd = ConnectionNumber(dpy);
    for (int i = -3; i < count; ++i) { // three keys to warm up
        // A quiet moment: whatever was still being drawn is taken first.
        auto const quietUntil = CLOCK::now() + std::chrono::milliseconds(30 + rng() % 51);
        do {
            for (Damage d : damages)
                XDamageSubtract(dpy, d, None, None);
            XSync(dpy, False);
            DrainDamage(dpy, damageBase);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        } while (CLOCK::now() < quietUntil);
        for (Damage d : damages)
            XDamageSubtract(dpy, d, None, None);
        XSync(dpy, False);
        DrainDamage(dpy, damageBase);

        auto const start = CLOCK::now();
        XTestFakeKeyEvent(dpy, key, True, CurrentTime);
        XTestFakeKeyEvent(dpy, key, False, CurrentTime);
        XFlush(dpy);
        bool seen = false;
        auto const until = start + std::chrono::seconds(1);
        while (!seen && CLOCK::now() < until) {
            if (XPending(dpy) == 0) {
                int const left =
                    int(std::chrono::duration_cast<std::chrono::milliseconds>(until - CLOCK::now()).count());
                pollfd p{fd, POLLIN, 0};
                poll(&p, 1, std::max(left, 0));
            }
            seen = DrainDamage(dpy, damageBase);
        }
        double const ms = std::chrono::duration<double, std::milli>(CLOCK::now() - start).count();
        if (i < 0)
            continue;
        if (!seen) {
            ++missed;
            continue;
        }
        latencies.push_back(ms);
        printf("%.3f\n", ms);
    }
    printf("median %.3f p90 %.3f missed %d\n", Percentile(latencies, 0.5), Percentile(latencies, 0.9), missed);
    XCloseDisplay(dpy);
    return 0;
}
