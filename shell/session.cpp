#include "shell/session.h"

#include <utility>

namespace shell {

EditorSession::EditorSession(editor::EditorHost& host, editor::MeterFeed& feed, ValueOf valueOf)
    : editor_(host, &feed), feed_(feed), valueOf_(std::move(valueOf)) {}

EditorSession::~EditorSession() { close(); }

bool EditorSession::open(void* parent, std::string& error) {
    close();
    for (int p = 0; p < editor::kParameters; ++p) editor_.setValue(p, valueOf_(p));
    editor_.followToneCurve();
    window_ = openEditorWindow(parent, editor_, error);
    if (!window_) return false;
    feed_.take();  // what the audio thread measured before the window opened is not news
    feed_.setActive(true);
    last_ = std::chrono::steady_clock::now();
    window_->tickEvery(kTimerMilliseconds, [this] { tick(); });
    window_->redraw();
    return true;
}

void EditorSession::close() {
    feed_.diInputs.disarm();  // a measurement ends with its editor
    feed_.setActive(false);
    window_.reset();
}

void EditorSession::tick() {
    if (!window_) return;
    // Events first, every call: a host that drives the editor by its timer alone, or whose
    // watch on the connection missed what Xlib had already read, still has them served.
    window_->handleEvents();
    const auto now = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(now - last_).count();
    // Hosts that call more often (an LV2 host's idle calls) still get 30 pictures a second at most.
    if (seconds < kTimerMilliseconds * 0.75e-3) return;
    last_ = now;
    // Only a change is drawn again: an idle editor costs its host nothing but this check.
    bool changed = false;
    for (int p = 0; p < editor::kParameters; ++p) changed |= editor_.setValue(p, valueOf_(p));
    changed |= editor_.takeMeters(feed_, seconds);
    changed |= editor_.followToneCurve();
    changed |= editor_.pumpMeasurement();  // the estimate runs here, on the editor's thread
    if (changed) window_->redraw();
}

void EditorSession::handleEvents() {
    if (window_) window_->handleEvents();
}

void EditorSession::refresh() {
    if (window_) window_->redraw();
}

void EditorSession::setScale(double scale) {
    editor_.setScale(scale);
    if (window_) window_->resize(editor_.width(), editor_.height());
}

void EditorSession::setSize(int width, int height) {
    editor_.setSize(width, height);
    if (window_) window_->resize(editor_.width(), editor_.height());
}

}  // namespace shell
