// The editor's window on X11: a child of the host's window on a connection of its own. libX11
// is loaded when the first window opens, so a module that never shows an editor (a render
// server, a container) needs no X11 library at all.
#include <dlfcn.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>
#include <vector>

#include "shell/window.h"

namespace shell {
namespace {

// The functions of libX11 this window uses, found once.
struct Xlib {
    decltype(&XOpenDisplay) openDisplay;
    decltype(&XCloseDisplay) closeDisplay;
    decltype(&XDefaultScreen) defaultScreen;
    decltype(&XDefaultVisual) defaultVisual;
    decltype(&XDefaultDepth) defaultDepth;
    decltype(&XCreateSimpleWindow) createSimpleWindow;
    decltype(&XSelectInput) selectInput;
    decltype(&XMapWindow) mapWindow;
    decltype(&XDestroyWindow) destroyWindow;
    decltype(&XResizeWindow) resizeWindow;
    decltype(&XCreateGC) createGC;
    decltype(&XFreeGC) freeGC;
    decltype(&XCreateImage) createImage;
    decltype(&XPutImage) putImage;
    decltype(&XPending) pending;
    decltype(&XEventsQueued) eventsQueued;
    decltype(&XNextEvent) nextEvent;
    decltype(&XFlush) flush;
    decltype(&XConnectionNumber) connectionNumber;
    decltype(&XLookupString) lookupString;
    decltype(&XGetInputFocus) getInputFocus;
    decltype(&XSetInputFocus) setInputFocus;
    decltype(&XSetErrorHandler) setErrorHandler;
    decltype(&XSync) sync;
    bool loaded = false;

    static const Xlib& get(std::string& error) {
        static const Xlib lib = [] {
            Xlib x{};
            void* handle = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
            if (handle == nullptr) return x;
            auto find = [handle](auto& fn, const char* name) {
                fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(handle, name));
                return fn != nullptr;
            };
            x.loaded = find(x.openDisplay, "XOpenDisplay") && find(x.closeDisplay, "XCloseDisplay") &&
                       find(x.defaultScreen, "XDefaultScreen") && find(x.defaultVisual, "XDefaultVisual") &&
                       find(x.defaultDepth, "XDefaultDepth") && find(x.createSimpleWindow, "XCreateSimpleWindow") &&
                       find(x.selectInput, "XSelectInput") && find(x.mapWindow, "XMapWindow") &&
                       find(x.destroyWindow, "XDestroyWindow") && find(x.resizeWindow, "XResizeWindow") &&
                       find(x.createGC, "XCreateGC") && find(x.freeGC, "XFreeGC") &&
                       find(x.createImage, "XCreateImage") && find(x.putImage, "XPutImage") &&
                       find(x.pending, "XPending") && find(x.eventsQueued, "XEventsQueued") && find(x.nextEvent, "XNextEvent") && find(x.flush, "XFlush") &&
                       find(x.connectionNumber, "XConnectionNumber") && find(x.lookupString, "XLookupString") &&
                       find(x.getInputFocus, "XGetInputFocus") && find(x.setInputFocus, "XSetInputFocus") &&
                       find(x.setErrorHandler, "XSetErrorHandler") && find(x.sync, "XSync");
            return x;  // the library stays loaded: hosts open editors again and again
        }();
        if (!lib.loaded) error = "the X11 library (libX11.so.6) cannot be loaded";
        return lib;
    }
};

class X11Window final : public EditorWindow {
    // Keys are asked for only while the value field is open: at other times they go up to the
    // host's window, even where the host has given the editor's window the focus.
    static constexpr long kEvents = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask | StructureNotifyMask;

public:
    X11Window(const Xlib& x, Display* display, ::Window parent, editor::Editor& editor)
        : x_(x), display_(display), editor_(editor) {
        window_ = x.createSimpleWindow(display, parent, 0, 0, static_cast<unsigned>(editor.width()),
                                       static_cast<unsigned>(editor.height()), 0, 0, 0);
        x.selectInput(display, window_, kEvents);
        gc_ = x.createGC(display, window_, 0, nullptr);
        x.mapWindow(display, window_);
        x.flush(display);
    }
    ~X11Window() override {
        if (focused_) focus(previousFocus_);
        x_.freeGC(display_, gc_);
        x_.destroyWindow(display_, window_);
        x_.closeDisplay(display_);
    }

    int eventFd() const override { return x_.connectionNumber(display_); }
    void* nativeHandle() const override { return reinterpret_cast<void*>(static_cast<std::uintptr_t>(window_)); }
    void tickEvery(int, std::function<void()>) override {}  // the host's run loop or timer calls

    // Writing a picture can make Xlib read what the server sent meanwhile into its own queue,
    // where a host watching the connection no longer sees it (the socket has been read): so
    // whatever is queued is served before returning, after every picture too.
    bool handleEvents() override {
        bool any = false;
        for (;;) {
            bool changed = false;
            while (x_.pending(display_) > 0) {
                XEvent event;
                x_.nextEvent(display_, &event);
                any = true;
                changed |= handle(event);
                followTyping();
            }
            if (!changed) return any;
            show();
            if (x_.eventsQueued(display_, QueuedAlready) == 0) return any;
        }
    }

    void redraw() override {
        followTyping();  // a change from outside the window (a host's menu) may open the field
        show();
        handleEvents();
    }

    void resize(int width, int height) override {
        editor_.setSize(width, height);
        x_.resizeWindow(display_, window_, static_cast<unsigned>(editor_.width()), static_cast<unsigned>(editor_.height()));
        redraw();
    }

private:
    // The keyboard is the editor's only while its value field is open: it takes the input focus
    // then (never a grab) and gives it back to whoever had it, so the host's keys (its
    // transport's space bar) are the host's at every other time.
    void followTyping() {
        if (editor_.typing() == focused_) return;
        if (!focused_) {
            int revert = 0;
            x_.getInputFocus(display_, &previousFocus_, &revert);
        }
        focused_ = editor_.typing();
        x_.selectInput(display_, window_, kEvents | (focused_ ? KeyPressMask : 0));
        focus(focused_ ? window_ : previousFocus_);
    }
    // The window having the focus may be gone or unmapped by now: that error is no one's.
    void focus(::Window to) {
        auto before = x_.setErrorHandler([](Display*, XErrorEvent*) { return 0; });
        x_.setInputFocus(display_, to, RevertToParent, CurrentTime);
        x_.sync(display_, False);
        x_.setErrorHandler(before);
    }

    bool key(XKeyEvent& k) {
        char text[8] = {};
        KeySym symbol = 0;
        const int length = x_.lookupString(&k, text, sizeof text, &symbol, nullptr);
        editor::Key key = editor::Key::Other;
        if (symbol == XK_Return || symbol == XK_KP_Enter) key = editor::Key::Enter;
        else if (symbol == XK_Escape) key = editor::Key::Escape;
        else if (symbol == XK_BackSpace) key = editor::Key::Backspace;
        else if (length == 1) key = editor::Key::Character;
        return editor_.keyDown(key, text[0]);
    }

    void show() {
        const editor::Canvas canvas = editor_.draw();
        const int w = canvas.width(), h = canvas.height();
        // X11's 32-bit TrueColor pixels are B, G, R, unused in memory, on little-endian machines.
        pixels_.resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4);
        const std::uint8_t* rgba = canvas.pixels().data();
        for (std::size_t i = 0; i < pixels_.size(); i += 4) {
            pixels_[i] = static_cast<char>(rgba[i + 2]);
            pixels_[i + 1] = static_cast<char>(rgba[i + 1]);
            pixels_[i + 2] = static_cast<char>(rgba[i]);
            pixels_[i + 3] = 0;
        }
        const int screen = x_.defaultScreen(display_);
        XImage* image = x_.createImage(display_, x_.defaultVisual(display_, screen),
                                       static_cast<unsigned>(x_.defaultDepth(display_, screen)), ZPixmap, 0,
                                       pixels_.data(), static_cast<unsigned>(w), static_cast<unsigned>(h), 32, 0);
        if (image == nullptr) return;
        x_.putImage(display_, window_, gc_, image, 0, 0, 0, 0, static_cast<unsigned>(w), static_cast<unsigned>(h));
        image->data = nullptr;  // the pixels are ours
        image->f.destroy_image(image);
        x_.flush(display_);
    }

    // Answers whether the picture changed.
    bool handle(const XEvent& event) {
        switch (event.type) {
            case Expose: return event.xexpose.count == 0;
            case ButtonPress: {
                const XButtonEvent& b = event.xbutton;
                const unsigned modifiers = (b.state & ShiftMask) ? editor::kShift : 0;
                if (b.button == Button4 || b.button == Button5) return editor_.wheel(b.x, b.y, b.button == Button4 ? 1 : -1, modifiers);
                if (b.button == Button3) return editor_.rightClick(b.x, b.y);
                if (b.button != Button1) return false;
                // Two presses within 400 ms and a few pixels are a double click.
                const bool twice = b.time - lastPress_ < 400 && std::abs(b.x - lastX_) < 4 && std::abs(b.y - lastY_) < 4;
                lastPress_ = twice ? 0 : b.time, lastX_ = b.x, lastY_ = b.y;
                return editor_.mouseDown(b.x, b.y, modifiers, twice ? 2 : 1);
            }
            case MotionNotify: {
                const XMotionEvent& m = event.xmotion;
                return editor_.mouseMove(m.x, m.y, (m.state & ShiftMask) ? editor::kShift : 0);
            }
            case KeyPress: {
                XKeyEvent k = event.xkey;  // Xlib's lookup wants one it may change
                return key(k);
            }
            case ButtonRelease: return event.xbutton.button == Button1 && editor_.mouseUp(event.xbutton.x, event.xbutton.y);
            case ConfigureNotify: {
                // The host made the window another size (an LV2 host resizes its child): the
                // editor follows it.
                const XConfigureEvent& c = event.xconfigure;
                if (c.width == editor_.width() && c.height == editor_.height()) return false;
                editor_.setSize(c.width, c.height);
                return true;
            }
            default: return false;
        }
    }

    const Xlib& x_;
    Display* display_;
    editor::Editor& editor_;
    ::Window window_ = 0;
    GC gc_ = nullptr;
    std::vector<char> pixels_;
    Time lastPress_ = 0;
    bool focused_ = false;
    ::Window previousFocus_ = 0;
    int lastX_ = 0, lastY_ = 0;
};

}  // namespace

std::unique_ptr<EditorWindow> openEditorWindow(void* parent, editor::Editor& editor, std::string& error) {
    const Xlib& x = Xlib::get(error);
    if (!x.loaded) return nullptr;
    Display* display = x.openDisplay(nullptr);
    if (display == nullptr) {
        error = "no X11 display to show the editor on";
        return nullptr;
    }
    return std::make_unique<X11Window>(x, display, static_cast<::Window>(reinterpret_cast<std::uintptr_t>(parent)), editor);
}

}  // namespace shell
