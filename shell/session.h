// One plug-in instance's open editor, whatever the format: the editor, its window, and the
// values and meters it follows at the pace of the host's timer.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "editor/editor.h"
#include "editor/meters.h"
#include "shell/window.h"

namespace shell {

class EditorSession {
public:
    using ValueOf = std::function<double(int parameter)>;  // the plug-in's value, display units

    EditorSession(editor::EditorHost& host, editor::MeterFeed& feed, ValueOf valueOf);
    ~EditorSession();

    // A window in the host's `parent`; false with `error` said where none can be had.
    bool open(void* parent, std::string& error);
    void close();
    bool isOpen() const { return window_ != nullptr; }

    // The host's timer (every kTimerMilliseconds): values and meters followed, the picture
    // shown again when it changed.
    void tick();
    // The window system's events waiting on eventFd().
    void handleEvents();
    int eventFd() const { return window_ ? window_->eventFd() : -1; }
    void* nativeHandle() const { return window_ ? window_->nativeHandle() : nullptr; }

    // The picture shown again after a change the window did not bring (a host's menu item).
    void refresh();
    void setScale(double scale);
    void setSize(int width, int height);
    editor::Editor& editor() { return editor_; }

    static constexpr int kTimerMilliseconds = 33;  // at most 30 pictures a second

private:
    editor::Editor editor_;
    editor::MeterFeed& feed_;
    ValueOf valueOf_;
    std::unique_ptr<EditorWindow> window_;
    std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
};

}  // namespace shell
