// The host's side of the editor tests on an X server (run under Xvfb): the editor's own
// pictures to hold a window against, where its controls and buttons are, a user's drags and
// clicks, a take played by an audio thread, and sessions of our VST 3 and CLAP hosts.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "editor/editor.h"
#include "host/clap_host.h"
#include "host/threads.h"
#include "host/vst3_editor_host.h"
#include "host/vst3_host.h"
#include "host/x11_stage.h"
#include "plugin_fixture.h"
#include "tests/synthetic_take.h"

namespace editorstage {

using namespace vst3;
using namespace std::chrono_literals;

struct NoHost : editor::EditorHost {
    void beginEdit(int) override {}
    void performEdit(int, double) override {}
    void endEdit(int) override {}
};

// The editor's own picture of a state, drawn here, to hold a window's pixels against; at the
// given size, or the scale's own.
inline std::vector<std::uint8_t> expectedPicture(double scale, const std::vector<std::pair<int, double>>& values, int& width,
                                          int& height, int atWidth = 0, int atHeight = 0) {
    NoHost host;
    editor::Editor e(host);
    e.setScale(scale);
    if (atWidth > 0) e.setSize(atWidth, atHeight);
    for (const auto& [parameter, value] : values) e.setValue(parameter, value);
    const editor::Canvas canvas = e.draw();
    width = canvas.width(), height = canvas.height();
    return canvas.pixels();
}

// How many pixels differ in colour (alpha aside); the sizes must agree.
inline ::testing::AssertionResult samePicture(const std::vector<std::uint8_t>& shot, int shotWidth, int shotHeight,
                                       const std::vector<std::uint8_t>& want, int width, int height) {
    if (shotWidth != width || shotHeight != height)
        return ::testing::AssertionFailure() << "the window is " << shotWidth << "x" << shotHeight << ", the editor "
                                             << width << "x" << height;
    std::size_t differing = 0;
    for (std::size_t i = 0; i < want.size(); i += 4)
        differing += shot[i] != want[i] || shot[i + 1] != want[i + 1] || shot[i + 2] != want[i + 2];
    if (differing == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << differing << " pixels differ";
}

// Whether the stage's window now shows the editor's picture of that state.
inline ::testing::AssertionResult windowShows(host::X11Stage& stage, double scale,
                                       const std::vector<std::pair<int, double>>& values) {
    int w = 0, h = 0, ew = 0, eh = 0;
    const auto shot = stage.screenshot(w, h);
    const auto want = expectedPicture(scale, values, ew, eh);
    return samePicture(shot, w, h, want, ew, eh);
}

// The first point (top to bottom, left to right) where the editor at this scale answers a
// parameter, and a point that far from it, in window pixels.
inline void pointOf(int parameter, double scale, int dx, int dy, int& x, int& y) {
    NoHost host;
    editor::Editor e(host);
    e.setScale(scale);
    for (y = 0; y < e.height(); y += 2)
        for (x = 0; x < e.width(); x += 2)
            if (e.parameterAt(x, y) == parameter) {
                x += static_cast<int>(dx * scale), y += static_cast<int>(dy * scale);
                return;
            }
}

// Where a parameter's control is in the window (into its knob).
inline void controlAt(int parameter, double scale, int& x, int& y) { pointOf(parameter, scale, 40, 60, x, y); }

// Where each half of the A/B switch is.
inline void abAt(int half, double scale, int& x, int& y) { pointOf(8, scale, half == 0 ? 71 : 213, 17, x, y); }

// A user's drag of the stereo width knob 60 pixels up in the stage's window (at scale 1: a
// fifth of its range).
inline void dragUp(host::X11Stage& stage, int parameter, double scale = 1) {
    int x = 0, y = 0;
    controlAt(parameter, scale, x, y);
    stage.moveTo(x, y);
    stage.run(20ms);
    stage.press(true);
    for (int dy = 1; dy <= 60; ++dy) {
        stage.moveTo(x, y - dy);
        stage.run(2ms);
    }
    stage.press(false);
    stage.run(100ms);
}
inline void dragStereoWidthUp(host::X11Stage& stage, double scale = 1) { dragUp(stage, 3, scale); }

// Where one of the editor's buttons is in the window at scale 1.
inline void buttonAt(editor::Button button, int& x, int& y) {
    NoHost host;
    editor::Editor e(host);
    for (y = 0; y < e.height(); y += 2)
        for (x = 0; x < e.width(); x += 2)
            if (e.buttonAt(x + 8, y + 8) == button) {
                x += 8, y += 8;
                return;
            }
}

inline void click(host::X11Stage& stage, editor::Button button) {
    int x = 0, y = 0;
    buttonAt(button, x, y);
    stage.moveTo(x, y);
    stage.run(20ms);
    stage.press(true);
    stage.run(10ms);
    stage.press(false);
    stage.run(20ms);
}

// A take whose DI leads the mid microphone by 72.6 samples, inverted, played by an audio thread
// of its own in blocks until told to stop, about ten times faster than it would sound.
class TakePlayer {
public:
    explicit TakePlayer(std::function<void(float**, float**, int)> process)
        : take_(synthetic::take(48000, 4.0, 72.6, -1.0)), thread_([this, process] {
              Channels3<float> io(512);
              for (std::size_t at = 0; !stop_; at = (at + 512) % (take_.size() / 3 - 512)) {
                  for (std::size_t j = 0; j < 512; ++j)
                      for (int k = 0; k < 3; ++k) io.in[k][j] = take_[3 * (at + j) + static_cast<std::size_t>(k)];
                  process(io.inputs, io.outputs, 512);
                  std::this_thread::sleep_for(1ms);
              }
          }) {}
    ~TakePlayer() { stopPlaying(); }
    void stopPlaying() {
        if (stop_.exchange(true)) return;
        thread_.join();
    }

private:
    std::vector<float> take_;
    std::atomic<bool> stop_{false};
    host::Thread thread_;
};

struct Vst3Session {
    std::unique_ptr<vst3host::Module> module;
    std::unique_ptr<vst3host::Plugin> plugin;
    Vst3Session() {
        std::string error;
        module = vst3host::Module::load(VINTREL_VST3_PATH, error);
        if (module) plugin = vst3host::Plugin::create(*module, error);
        if (!plugin) ADD_FAILURE() << error;
    }
};

// The VST 3 plug-in started, its view attached in the stage's window, edits heard by a
// recording component handler (with context menus when `offersMenus`); taken down in order.
struct Vst3EditorSession {
    Vst3Session s;
    vst3host::RecordingHandler handler;
    std::unique_ptr<vst3host::EditorFrame> frame;
    IPlugView* view = nullptr;
    explicit Vst3EditorSession(host::X11Stage& stage, bool offersMenus = false) {
        if (!s.plugin) return;
        handler.offersMenus = offersMenus;
        s.plugin->controller()->setComponentHandler(&handler);
        if (!s.plugin->start(48000.0, 512, kSample32)) {
            ADD_FAILURE() << "not started";
            return;
        }
        view = s.plugin->controller()->createView(kEditorViewType);
        if (view == nullptr) {
            ADD_FAILURE() << "no view";
            return;
        }
        frame = std::make_unique<vst3host::EditorFrame>(stage);
        view->setFrame(frame.get());
        if (view->attached(reinterpret_cast<void*>(stage.window()), kPlatformTypeX11EmbedWindowID) != kResultOk)
            ADD_FAILURE() << "not attached";
    }
    ~Vst3EditorSession() {
        if (view != nullptr) view->removed(), view->release();
        if (!s.plugin) return;
        s.plugin->controller()->setComponentHandler(nullptr);
        s.plugin->stop();
    }
    IEditController* controller() const { return s.plugin->controller(); }
};

// The CLAP plug-in's editor in a window of our host, with the host's timers and descriptors.
struct ClapSession {
    std::unique_ptr<claphost::Module> module;
    std::unique_ptr<claphost::Plugin> plugin;
    const clap_plugin_gui_t* gui = nullptr;
    explicit ClapSession(host::X11Stage& stage) {
        std::string error;
        module = claphost::Module::load(VINTREL_CLAP_PATH, error);
        if (module) plugin = claphost::Plugin::create(*module, "net.brelvander.guitar-decoder");
        if (!plugin) {
            ADD_FAILURE() << error;
            return;
        }
        plugin->serveEditor({[&stage](int ms, std::function<void()> tick) { return stage.every(ms, std::move(tick)); },
                             [&stage](int fd, std::function<void()> ready) { return stage.watch(fd, std::move(ready)); },
                             [&stage](int handle) { stage.forget(handle); }});
        gui = plugin->extension<clap_plugin_gui_t>(CLAP_EXT_GUI);
        if (gui == nullptr) ADD_FAILURE() << "no gui extension";
    }
    bool open(host::X11Stage& stage) {
        const clap_plugin_t* p = &plugin->plugin();
        clap_window_t window{};
        window.api = CLAP_WINDOW_API_X11;
        window.x11 = stage.window();
        return gui->create(p, CLAP_WINDOW_API_X11, false) && gui->set_parent(p, &window) && gui->show(p);
    }
};

}  // namespace editorstage
