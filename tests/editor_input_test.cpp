// The editor's input as a user gives it, through each format's editor glue on an X server (run
// under Xvfb): clicks held still while the editor redraws at its fastest and clicks after a
// drag all served at once, values typed into the field a double click opens, and the host's
// menu, or the editor's own, on a right click.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <dlfcn.h>
#include <lv2/ui/ui.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <string>
#include <vector>

#include "shell/session.h"
#include "tests/editor_stage.h"

namespace {

using namespace vst3;
using namespace editorstage;
using namespace std::chrono_literals;

// Where each half of the A/B switch is, in window pixels at this scale.
void abAt(int half, double scale, int& x, int& y) {
    NoHost host;
    editor::Editor e(host);
    e.setScale(scale);
    for (y = 0; y < e.height(); y += 2)
        for (x = 0; x < e.width(); x += 2)
            if (e.parameterAt(x, y) == 8) {
                x += static_cast<int>((half == 0 ? 71 : 213) * scale), y += static_cast<int>(17 * scale);
                return;
            }
}

// A user's hand on the mouse, on a connection and a thread of its own. Its click comes while
// the X server is held (grabbed) for a moment: the editor's thread, writing a picture meanwhile,
// waits for the server, and Xlib reads the click into its own queue while it waits, so that
// the connection looks quiet when the picture is written, as it does when a busy server reads
// the editor's pictures slowly.
class Hand {
public:
    Hand() : display_(XOpenDisplay(nullptr)) {}
    ~Hand() {
        wait();
        if (display_ != nullptr) XCloseDisplay(display_);
    }
    bool ok() const { return display_ != nullptr; }
    // Press, hold, release where the pointer is, within a hold of the server longer than the
    // editor's timer period; returns at once.
    void click() {
        wait();
        done_ = false;
        thread_ = std::thread([this] {
            XGrabServer(display_);
            XSync(display_, False);
            std::this_thread::sleep_for(45ms);  // a tick comes: the editor writes a picture
            XTestFakeButtonEvent(display_, 1, True, CurrentTime);
            XSync(display_, False);
            std::this_thread::sleep_for(30ms);
            XTestFakeButtonEvent(display_, 1, False, CurrentTime);
            XUngrabServer(display_);
            XSync(display_, False);
            done_ = true;
        });
    }
    bool done() const { return done_; }
    void wait() {
        if (thread_.joinable()) thread_.join();
    }

private:
    Display* display_;
    std::thread thread_;
    std::atomic<bool> done_{true};
};

// Clicks held still (press, 30 ms, release, no motion between) on the A/B switch's halves in
// turn while the editor redraws at every tick of the host's timer (the meters move, or the
// host changes a value). A click is served when `ab` shows it within one timer period of the
// server's letting go, as a user sees the switch light. After a drag of the stereo width, when `afterDrag`:
// the click a host lost. Answers how many were not served in time.
int lateClicks(host::X11Stage& stage, const std::function<double()>& ab, int clicks, double scale, bool afterDrag) {
    constexpr auto kPeriod = std::chrono::milliseconds(shell::EditorSession::kTimerMilliseconds);
    Hand hand;
    if (!hand.ok()) return clicks;
    int late = 0;
    for (int i = 0; i < clicks; ++i) {
        if (afterDrag) dragStereoWidthUp(stage, scale);
        int x = 0, y = 0;
        const int half = ab() == 0 ? 1 : 0;
        abAt(half, scale, x, y);
        stage.moveTo(x, y);
        stage.run(std::chrono::milliseconds(afterDrag ? 400 : 50 + 7 * (i % 5)));  // at every phase of the timer
        hand.click();
        while (!hand.done()) stage.run(1ms);
        const auto released = std::chrono::steady_clock::now();
        bool served = ab() == half;
        while (!served && std::chrono::steady_clock::now() - released < kPeriod + 12ms) {
            stage.run(1ms);
            served = ab() == half;
        }
        hand.wait();
        late += !served;
        stage.run(20ms);
    }
    return late;
}

constexpr int kClicks = 10, kClicksAfterDrags = 3;

TEST(EditorInput, Vst3ServesEveryClickAtOnceFromItsRunLoop) {
    host::X11Stage stage(editor::kBaseWidth, editor::kBaseHeight);
    ASSERT_TRUE(stage.ok()) << "no X display: run under xvfb-run";
    Vst3Session s;
    ASSERT_TRUE(s.plugin);
    vst3host::RecordingHandler handler;
    s.plugin->controller()->setComponentHandler(&handler);
    ASSERT_TRUE(s.plugin->start(48000.0, 512, kSample32));
    IPlugView* view = s.plugin->controller()->createView(kEditorViewType);
    ASSERT_NE(view, nullptr);
    vst3host::EditorFrame frame(stage);
    view->setFrame(&frame);
    ASSERT_EQ(view->attached(reinterpret_cast<void*>(stage.window()), kPlatformTypeX11EmbedWindowID), kResultOk);
    auto ab = [&] { return s.plugin->controller()->getParamNormalized(8); };
    {
        TakePlayer player([&](float** in, float** out, int n) { s.plugin->process(in, out, n); });
        stage.run(200ms);
        EXPECT_EQ(lateClicks(stage, ab, kClicks, 1, false), 0) << "of " << kClicks << " clicks held still";
    }
    view->removed();
    view->release();
    s.plugin->controller()->setComponentHandler(nullptr);
    s.plugin->stop();
}

// The CLAP glue, with the host's descriptor watch and timer, and with its timer alone.
TEST(EditorInput, ClapServesEveryClickAtOnceWithTheFdAndWithTheTimerAlone) {
    for (const bool watchesFd : {true, false}) {
        SCOPED_TRACE(watchesFd ? "posix-fd and timer" : "timer alone");
        host::X11Stage stage(editor::kBaseWidth, editor::kBaseHeight);
        ASSERT_TRUE(stage.ok()) << "no X display: run under xvfb-run";
        ClapSession s(stage);
        ASSERT_TRUE(s.gui);
        if (!watchesFd)
            s.plugin->serveEditor({[&stage](int ms, std::function<void()> tick) { return stage.every(ms, std::move(tick)); },
                                   [](int, std::function<void()>) { return 0; }, [&stage](int h) { stage.forget(h); }});
        ASSERT_TRUE(s.plugin->activate(48000.0, 512));
        ASSERT_TRUE(s.open(stage));
        auto ab = [&] { return s.plugin->value(8); };
        TakePlayer player([&](float** in, float** out, int n) { s.plugin->process(in, out, static_cast<std::uint32_t>(n)); });
        stage.run(200ms);
        EXPECT_EQ(lateClicks(stage, ab, kClicks, 1, false), 0) << "of " << kClicks << " clicks held still";
        EXPECT_EQ(lateClicks(stage, ab, kClicksAfterDrags, 1, true), 0) << "of " << kClicksAfterDrags << " after drags";
        player.stopPlaying();
        s.gui->destroy(&s.plugin->plugin());
    }
}

// The LV2 UI, driven by the host's idle calls.
struct Lv2Ui {
    void* module = nullptr;
    const LV2UI_Descriptor* ui = nullptr;
    const LV2UI_Idle_Interface* idle = nullptr;
    LV2UI_Handle handle = nullptr;
    std::vector<std::pair<std::uint32_t, float>> written;
    explicit Lv2Ui(host::X11Stage& stage) {
        module = dlopen(VINTREL_LV2_EDITOR, RTLD_NOW | RTLD_LOCAL);
        if (module == nullptr) return;
        const auto describe = reinterpret_cast<const LV2UI_Descriptor* (*)(uint32_t)>(dlsym(module, "lv2ui_descriptor"));
        ui = describe != nullptr ? describe(0) : nullptr;
        if (ui == nullptr) return;
        idle = static_cast<const LV2UI_Idle_Interface*>(ui->extension_data(LV2_UI__idleInterface));
        LV2_Feature parent{LV2_UI__parent, reinterpret_cast<void*>(stage.window())};
        const LV2_Feature* features[] = {&parent, nullptr};
        LV2UI_Widget widget = nullptr;
        auto write = [](LV2UI_Controller c, uint32_t port, uint32_t size, uint32_t format, const void* buffer) {
            if (format == 0 && size == sizeof(float))
                static_cast<Lv2Ui*>(c)->written.emplace_back(port, *static_cast<const float*>(buffer));
        };
        handle = ui->instantiate(ui, "urn:brelvander:guitar-decoder", "", write, this, &widget, features);
    }
    ~Lv2Ui() {
        if (handle != nullptr) ui->cleanup(handle);
        if (module != nullptr) dlclose(module);
    }
    // The last value written to a parameter's control port (the ports after the six audio ones).
    double lastWritten(std::uint32_t parameter, double otherwise) const {
        for (auto at = written.rbegin(); at != written.rend(); ++at)
            if (at->first == 6 + parameter) return at->second;
        return otherwise;
    }
};

TEST(EditorInput, Lv2ServesEveryClickAtOnceFromTheHostsIdleCalls) {
    host::X11Stage stage(editor::kBaseWidth, editor::kBaseHeight);
    ASSERT_TRUE(stage.ok()) << "no X display: run under xvfb-run";
    Lv2Ui lv2(stage);
    ASSERT_NE(lv2.handle, nullptr);
    ASSERT_NE(lv2.idle, nullptr);
    // Idle calls about 30 times a second, as jalv and Qtractor make them, each after the host
    // told a new value of the mid trim: the editor redraws at every call.
    float trim = 0;
    const int loop = stage.every(shell::EditorSession::kTimerMilliseconds, [&] {
        trim = trim == 0 ? -1.0f : 0.0f;
        lv2.ui->port_event(lv2.handle, 6, sizeof trim, 0, &trim);
        lv2.idle->idle(lv2.handle);
    });
    stage.run(200ms);
    auto ab = [&] { return lv2.lastWritten(8, 0); };
    EXPECT_EQ(lateClicks(stage, ab, kClicks, 1, false), 0) << "of " << kClicks << " clicks held still";
    EXPECT_EQ(lateClicks(stage, ab, kClicksAfterDrags, 1, true), 0) << "of " << kClicksAfterDrags << " after drags";
    stage.forget(loop);
}

}  // namespace
