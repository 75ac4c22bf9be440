// A host's side of a plug-in editor on X11, for tests: a top-level window to embed the editor
// in, the run loop a host gives it (file descriptors to watch, timers), the window's pixels
// as a picture, and a mouse driven through XTest as a user's hand would.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace host {

class X11Stage {
public:
    // A window of this size on $DISPLAY; check ok() (false where there is no display).
    X11Stage(int width, int height);
    ~X11Stage();
    bool ok() const { return display_ != nullptr; }
    unsigned long window() const { return window_; }
    void resize(int width, int height);

    // The run loop: a descriptor's callback runs when it is readable, a timer's every period.
    int watch(int fd, std::function<void()> ready);
    int every(int milliseconds, std::function<void()> tick);
    void forget(int handle);
    // Runs the loop for this long.
    void run(std::chrono::milliseconds duration);
    std::size_t watched() const { return sources_.size(); }

    // The window's pixels, with its children drawn in them: R, G, B, A (255) per pixel.
    std::vector<std::uint8_t> screenshot(int& width, int& height);
    // The same of a part of the whole screen (another program's window, say).
    std::vector<std::uint8_t> screenshotOfScreen(int x, int y, int width, int height);
    // Whether a window of this name is on the screen.
    bool hasWindowNamed(const std::string& name) { return windowNamed(name) != 0; }
    // That window, or 0; with `prefix`, the first whose name begins so (a host adds its own
    // name to the title).
    unsigned long windowNamed(const std::string& name, bool prefix = false);
    // Where a window's top left corner is on the screen.
    void originOf(unsigned long window, int& x, int& y);
    // Another window made this size, as a host or a window manager makes it.
    void resizeWindow(unsigned long window, int width, int height);

    // The pointer at a point of the window, a button pressed or released, the wheel turned.
    void moveTo(int x, int y);
    void moveOnScreen(int x, int y);
    void press(bool down, bool shift = false);
    void pressRight(bool down);
    // Keys typed where the keyboard's focus is: each character of `text`, or one key by its
    // X name ("Return", "Escape", "space").
    void type(const std::string& text);
    void key(const char* name);
    void wheel(int notches);

private:
    struct Source {
        int handle, fd, period;
        std::function<void()> callback;
        std::chrono::steady_clock::time_point next;
    };
    std::vector<std::uint8_t> pixelsOf(unsigned long drawable, int x, int y, int width, int height);
    void* display_ = nullptr;  // Display*, kept out of this header
    unsigned long window_ = 0;
    std::vector<Source> sources_;
    int nextHandle_ = 1;
};

}  // namespace host
