// A window that shows an editor: the picture it draws and the mouse it answers. The shells of
// the window systems implement it; a format's glue opens one in the host's window and drives
// it from the host's timers and event loop.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "editor/editor.h"

namespace shell {

class EditorWindow {
public:
    virtual ~EditorWindow() = default;
    // Handles what the window system sent (mouse, exposure, size); answers whether any came.
    virtual bool handleEvents() = 0;
    // Shows the editor's current picture.
    virtual void redraw() = 0;
    // The window's size in pixels, as the host set it; the editor takes the same.
    virtual void resize(int width, int height) = 0;
    // The window itself (an X11 window id, a Windows HWND), for hosts that ask for it.
    virtual void* nativeHandle() const = 0;
    // What a host's event loop waits on to call handleEvents (X11: the connection), or -1.
    virtual int eventFd() const = 0;
    // Where the window system has timers of its own (Windows), `tick` runs on one every
    // `milliseconds`; elsewhere the host's timer calls the session and this does nothing.
    virtual void tickEvery(int milliseconds, std::function<void()> tick) = 0;
};

// A child of the host's window `parent` (an X11 window id or a Windows HWND), the size of the
// editor; null with `error` said where the window system is missing (no X11 library, no display).
std::unique_ptr<EditorWindow> openEditorWindow(void* parent, editor::Editor& editor, std::string& error);

}  // namespace shell
