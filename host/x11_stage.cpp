#include "host/x11_stage.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <poll.h>

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <thread>

namespace host {

namespace {
Display* of(void* d) { return static_cast<Display*>(d); }
}  // namespace

X11Stage::X11Stage(int width, int height) {
    // An X server resets when its last client leaves, and refuses connections meanwhile.
    Display* display = XOpenDisplay(nullptr);
    for (int tries = 0; display == nullptr && tries < 20; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        display = XOpenDisplay(nullptr);
    }
    if (display == nullptr) {
        std::fprintf(stderr, "X11Stage: cannot open display %s\n", XDisplayName(nullptr));
        return;
    }
    display_ = display;
    window_ = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, static_cast<unsigned>(width),
                                  static_cast<unsigned>(height), 0, 0, 0x202020);
    XSelectInput(display, window_, StructureNotifyMask);
    XMapWindow(display, window_);
    // Wait until it is on the screen, so what is drawn in it can be seen.
    for (XEvent event;;) {
        XNextEvent(display, &event);
        if (event.type == MapNotify) break;
    }
}

X11Stage::~X11Stage() {
    if (display_ == nullptr) return;
    XDestroyWindow(of(display_), window_);
    XCloseDisplay(of(display_));
}

void X11Stage::resize(int width, int height) {
    XResizeWindow(of(display_), window_, static_cast<unsigned>(width), static_cast<unsigned>(height));
    XSync(of(display_), False);
}

int X11Stage::watch(int fd, std::function<void()> ready) {
    sources_.push_back({nextHandle_, fd, 0, std::move(ready), {}});
    return nextHandle_++;
}

int X11Stage::every(int milliseconds, std::function<void()> tick) {
    sources_.push_back({nextHandle_, -1, milliseconds, std::move(tick),
                        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds)});
    return nextHandle_++;
}

void X11Stage::forget(int handle) {
    sources_.erase(std::remove_if(sources_.begin(), sources_.end(), [handle](const Source& s) { return s.handle == handle; }),
                   sources_.end());
}

void X11Stage::run(std::chrono::milliseconds duration) {
    const auto end = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < end) {
        XSync(of(display_), False);
        std::vector<pollfd> fds;
        for (const Source& s : sources_)
            if (s.fd >= 0) fds.push_back({s.fd, POLLIN, 0});
        poll(fds.data(), fds.size(), 5);
        // Callbacks may change the sources: take copies of what is due first.
        std::vector<std::function<void()>> due;
        const auto now = std::chrono::steady_clock::now();
        for (Source& s : sources_) {
            if (s.fd >= 0) {
                for (const pollfd& p : fds)
                    if (p.fd == s.fd && (p.revents & POLLIN)) due.push_back(s.callback);
            } else if (now >= s.next) {
                s.next = now + std::chrono::milliseconds(s.period);
                due.push_back(s.callback);
            }
        }
        for (auto& callback : due) callback();
    }
}

std::vector<std::uint8_t> X11Stage::screenshot(int& width, int& height) {
    XSync(of(display_), False);
    XWindowAttributes attributes;
    XGetWindowAttributes(of(display_), window_, &attributes);
    width = attributes.width, height = attributes.height;
    return pixelsOf(window_, 0, 0, width, height);
}

std::vector<std::uint8_t> X11Stage::screenshotOfScreen(int x, int y, int width, int height) {
    XSync(of(display_), False);
    return pixelsOf(DefaultRootWindow(of(display_)), x, y, width, height);
}

std::vector<std::uint8_t> X11Stage::pixelsOf(unsigned long drawable, int x0, int y0, int width, int height) {
    XImage* image = XGetImage(of(display_), drawable, x0, y0, static_cast<unsigned>(width), static_cast<unsigned>(height),
                              AllPlanes, ZPixmap);
    std::vector<std::uint8_t> rgba(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
    if (image == nullptr) return rgba;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            std::uint8_t* p = &rgba[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 4];
            p[0] = static_cast<std::uint8_t>(pixel >> 16), p[1] = static_cast<std::uint8_t>(pixel >> 8);
            p[2] = static_cast<std::uint8_t>(pixel), p[3] = 255;
        }
    XDestroyImage(image);
    return rgba;
}

namespace {

// A window's title as its program gave it: the UTF-8 one where there is one (Qt's, with its
// dash), else the Latin-1 one.
std::string titleOf(Display* display, ::Window w) {
    std::string title;
    Atom type = None;
    int format = 0;
    unsigned long count = 0, left = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, w, XInternAtom(display, "_NET_WM_NAME", False), 0, 1024, False,
                           XInternAtom(display, "UTF8_STRING", False), &type, &format, &count, &left, &data) == Success &&
        data != nullptr && format == 8)
        title.assign(reinterpret_cast<const char*>(data), count);
    if (data != nullptr) XFree(data);
    char* name = nullptr;
    if (title.empty() && XFetchName(display, w, &name) && name != nullptr) title = name;
    if (name != nullptr) XFree(name);
    return title;
}

}  // namespace

unsigned long X11Stage::windowNamed(const std::string& name, bool prefix) {
    std::function<::Window(::Window)> search = [&](::Window w) -> ::Window {
        const std::string title = titleOf(of(display_), w);
        if (prefix ? std::string_view(title).starts_with(name) && !name.empty() : name == title) return w;
        ::Window root, parent, *children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(of(display_), w, &root, &parent, &children, &count)) return 0;
        ::Window found = 0;
        for (unsigned i = 0; i < count && found == 0; ++i) found = search(children[i]);
        if (children != nullptr) XFree(children);
        return found;
    };
    return search(DefaultRootWindow(of(display_)));
}

void X11Stage::originOf(unsigned long window, int& x, int& y) {
    ::Window child;
    x = y = 0;
    XTranslateCoordinates(of(display_), window, DefaultRootWindow(of(display_)), 0, 0, &x, &y, &child);
}

void X11Stage::resizeWindow(unsigned long window, int width, int height) {
    XResizeWindow(of(display_), window, static_cast<unsigned>(width), static_cast<unsigned>(height));
    XSync(of(display_), False);
}

void X11Stage::moveTo(int x, int y) {
    int rootX = 0, rootY = 0;
    ::Window child;
    XTranslateCoordinates(of(display_), window_, DefaultRootWindow(of(display_)), x, y, &rootX, &rootY, &child);
    XTestFakeMotionEvent(of(display_), -1, rootX, rootY, CurrentTime);
    XFlush(of(display_));
}

void X11Stage::moveOnScreen(int x, int y) {
    XTestFakeMotionEvent(of(display_), -1, x, y, CurrentTime);
    XFlush(of(display_));
}

void X11Stage::pressRight(bool down) {
    XTestFakeButtonEvent(of(display_), 3, down ? True : False, CurrentTime);
    XFlush(of(display_));
}

void X11Stage::key(const char* name) {
    const KeyCode code = XKeysymToKeycode(of(display_), XStringToKeysym(name));
    XTestFakeKeyEvent(of(display_), code, True, CurrentTime);
    XTestFakeKeyEvent(of(display_), code, False, CurrentTime);
    XFlush(of(display_));
}

void X11Stage::type(const std::string& text) {
    for (char c : text) {
        const char* name = c == '-' ? "minus" : c == '.' ? "period" : c == ' ' ? "space" : nullptr;
        const std::string letter(1, c);
        key(name != nullptr ? name : letter.c_str());
    }
}

void X11Stage::press(bool down, bool shift) {
    const KeyCode shiftKey = XKeysymToKeycode(of(display_), XK_Shift_L);
    if (shift && down) XTestFakeKeyEvent(of(display_), shiftKey, True, CurrentTime);
    XTestFakeButtonEvent(of(display_), 1, down ? True : False, CurrentTime);
    if (shift && !down) XTestFakeKeyEvent(of(display_), shiftKey, False, CurrentTime);
    XFlush(of(display_));
}

void X11Stage::wheel(int notches) {
    const unsigned button = notches > 0 ? 4 : 5;
    for (int i = 0; i < std::abs(notches); ++i) {
        XTestFakeButtonEvent(of(display_), button, True, CurrentTime);
        XTestFakeButtonEvent(of(display_), button, False, CurrentTime);
    }
    XFlush(of(display_));
}

}  // namespace host
