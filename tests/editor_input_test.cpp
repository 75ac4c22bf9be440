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
#if defined(VINTREL_SANITIZED_MODULES)
    // Instrumented, a picture takes several periods to draw; a click left in Xlib's queue is
    // still never served before the next event, which no longer comes.
    constexpr auto kPeriod = std::chrono::milliseconds(10 * shell::EditorSession::kTimerMilliseconds);
#else
    constexpr auto kPeriod = std::chrono::milliseconds(shell::EditorSession::kTimerMilliseconds);
#endif
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
    Vst3EditorSession session(stage);
    ASSERT_NE(session.view, nullptr);
    auto ab = [&] { return session.controller()->getParamNormalized(8); };
    TakePlayer player([&](float** in, float** out, int n) { session.s.plugin->process(in, out, n); });
    stage.run(200ms);
    EXPECT_EQ(lateClicks(stage, ab, kClicks, 1, false), 0) << "of " << kClicks << " clicks held still";
    EXPECT_EQ(lateClicks(stage, ab, kClicksAfterDrags, 1, true), 0) << "of " << kClicksAfterDrags << " after drags";
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

// Where a knob's value text is in the window at scale 1.
void valueTextAt(int parameter, int& x, int& y) {
    controlAt(parameter, 1, x, y);
    y += 49;  // from the knob's middle down to its value
}

// A user's double click on a knob's value, the value typed and Enter.
void typeInto(host::X11Stage& stage, int parameter, const std::string& text) {
    int x = 0, y = 0;
    valueTextAt(parameter, x, y);
    stage.moveTo(x, y);
    stage.run(30ms);
    for (int i = 0; i < 2; ++i) {
        stage.press(true);
        stage.run(10ms);
        stage.press(false);
        stage.run(40ms);
    }
    stage.run(60ms);
    stage.type(text);
    stage.key("Return");
    stage.run(120ms);
}

// A right click on a control; answers where, in window pixels.
std::pair<int, int> rightClickOn(host::X11Stage& stage, int parameter) {
    int x = 0, y = 0;
    controlAt(parameter, 1, x, y);
    stage.moveTo(x, y);
    stage.run(30ms);
    stage.pressRight(true);
    stage.run(10ms);
    stage.pressRight(false);
    stage.run(120ms);
    return {x, y};
}

// Whether the stage shows the editor's own menu as the editor draws it after that right click.
::testing::AssertionResult showsOwnMenu(host::X11Stage& stage, const std::vector<std::pair<int, double>>& values,
                                        std::pair<int, int> at) {
    NoHost host;
    editor::Editor e(host);
    for (const auto& [parameter, value] : values) e.setValue(parameter, value);
    e.rightClick(at.first, at.second);
    if (e.menuParameter() < 0) return ::testing::AssertionFailure() << "no menu drawn here";
    const editor::Canvas picture = e.draw();
    int w = 0, h = 0;
    const auto shot = stage.screenshot(w, h);
    return samePicture(shot, w, h, picture.pixels(), picture.width(), picture.height());
}

TEST(EditorInput, Vst3TypedValuesAreOneGestureAndARightClickAsksForTheHostsMenu) {
    host::X11Stage stage(editor::kBaseWidth, editor::kBaseHeight);
    ASSERT_TRUE(stage.ok()) << "no X display: run under xvfb-run";
    Vst3EditorSession session(stage, true);
    ASSERT_NE(session.view, nullptr);
    IEditController* controller = session.controller();
    vst3host::RecordingHandler& handler = session.handler;
    IPlugView* view = session.view;
    stage.run(150ms);
    EXPECT_EQ(view->onKeyDown(' ', KEY_SPACE, 0), kResultFalse) << "no field open: the host's transport key";

    typeInto(stage, 2, "-3.5 db");
    ASSERT_EQ(handler.edits.size(), 3u) << "one gesture";
    EXPECT_EQ(handler.edits[0].kind, 'b');
    EXPECT_EQ(handler.edits[1].kind, 'p');
    EXPECT_EQ(handler.edits[2].kind, 'e');
    for (const auto& edit : handler.edits) EXPECT_EQ(edit.id, 2u);
    EXPECT_NEAR(controller->normalizedParamToPlain(2, handler.edits[1].value), -3.5, 1e-9);
    EXPECT_EQ(view->onKeyDown(' ', KEY_SPACE, 0), kResultFalse) << "the field closed with Enter";

    // The host's menu of the DI level, with the editor's items; "Type a value" opens the field,
    // which then takes the host's keys.
    handler.edits.clear();
    const auto at = rightClickOn(stage, 5);
    ASSERT_EQ(handler.menus.size(), 1u);
    EXPECT_EQ(handler.menusFor[0], 5u);
    EXPECT_EQ(handler.menus[0]->names(), (std::vector<std::string>{"Default", "Type a value"}));
    EXPECT_EQ(handler.menus[0]->popups, 1);
    EXPECT_EQ(handler.menus[0]->poppedAt, std::make_pair(at.first, at.second));
    EXPECT_TRUE(handler.edits.empty()) << "a right click changes nothing";
    EXPECT_TRUE(handler.menus[0]->choose("Type a value"));
    EXPECT_EQ(view->onKeyDown('-', 0, 0), kResultTrue);
    EXPECT_EQ(view->onKeyDown(0, VKEY_FIRST_ASCII + 6, 0), kResultTrue);  // '6', as a code
    EXPECT_EQ(view->onKeyDown(0, KEY_ENTER, 0), kResultTrue);
    ASSERT_EQ(handler.edits.size(), 3u);
    EXPECT_NEAR(controller->normalizedParamToPlain(5, handler.edits[1].value), -6, 1e-9);
    EXPECT_TRUE(handler.menus[0]->choose("Default"));
    ASSERT_EQ(handler.edits.size(), 6u);
    EXPECT_NEAR(controller->normalizedParamToPlain(5, handler.edits[4].value), vintrel::kPluginParameters[5].defaultValue, 1e-9);

    // A host without menus: the editor's own.
    handler.offersMenus = false;
    const auto own = rightClickOn(stage, 5);
    EXPECT_EQ(handler.menus.size(), 1u);
    EXPECT_TRUE(showsOwnMenu(stage, {{2, -3.5}}, own));
}

TEST(EditorInput, ClapTypedValuesAndTheHostsContextMenuOrTheEditorsOwn) {
    host::X11Stage stage(editor::kBaseWidth, editor::kBaseHeight);
    ASSERT_TRUE(stage.ok()) << "no X display: run under xvfb-run";
    ClapSession s(stage);
    ASSERT_TRUE(s.gui);
    s.plugin->offersContextMenu = true;
    ASSERT_TRUE(s.plugin->activate(48000.0, 512));
    std::vector<bool> enabled;
    EXPECT_EQ(s.plugin->pluginMenuItems(5, &enabled), (std::vector<std::string>{"Default", "Type a value"}));
    EXPECT_EQ(enabled, (std::vector<bool>{true, false})) << "no editor: nothing to type into";
    EXPECT_TRUE(s.plugin->pluginMenuItems(100).empty()) << "no such parameter";
    ASSERT_TRUE(s.open(stage));
    stage.run(150ms);

    typeInto(stage, 2, "-3.5");
    EXPECT_EQ(s.plugin->value(2), -3.5);
    s.plugin->flush({});
    ASSERT_EQ(s.plugin->heard.size(), 3u) << "one gesture";
    EXPECT_EQ(s.plugin->heard[0].kind, 'b');
    EXPECT_EQ(s.plugin->heard[1].value, -3.5);
    EXPECT_EQ(s.plugin->heard[2].kind, 'e');

    const auto at = rightClickOn(stage, 5);
    ASSERT_EQ(s.plugin->popups.size(), 1u);
    EXPECT_EQ(s.plugin->popups[0].parameter, 5u);
    EXPECT_EQ(std::make_pair(s.plugin->popups[0].x, s.plugin->popups[0].y), at);
    s.plugin->pluginMenuItems(5, &enabled);
    EXPECT_EQ(enabled, (std::vector<bool>{true, true}));
    s.plugin->heard.clear();
    EXPECT_TRUE(s.plugin->performPluginMenuItem(5, 1));  // "Type a value": the keyboard's now
    stage.run(100ms);
    stage.type("-12");
    stage.key("Return");
    stage.run(120ms);
    EXPECT_EQ(s.plugin->value(5), -12.0);
    EXPECT_TRUE(s.plugin->performPluginMenuItem(5, 0));
    EXPECT_EQ(s.plugin->value(5), vintrel::kPluginParameters[5].defaultValue);
    EXPECT_FALSE(s.plugin->performPluginMenuItem(5, 7));

    s.plugin->offersContextMenu = false;
    const auto own = rightClickOn(stage, 5);
    EXPECT_EQ(s.plugin->popups.size(), 1u);
    EXPECT_TRUE(showsOwnMenu(stage, {{2, -3.5}}, own));
    s.gui->destroy(&s.plugin->plugin());
}

TEST(EditorInput, Lv2TypedValuesAndTheEditorsOwnMenu) {
    host::X11Stage stage(editor::kBaseWidth, editor::kBaseHeight);
    ASSERT_TRUE(stage.ok()) << "no X display: run under xvfb-run";
    Lv2Ui lv2(stage);
    ASSERT_NE(lv2.handle, nullptr);
    const int loop = stage.every(16, [&] { lv2.idle->idle(lv2.handle); });
    stage.run(150ms);
    typeInto(stage, 2, "-3.5 dB");
    EXPECT_EQ(lv2.lastWritten(2, 0), -3.5f);
    const auto own = rightClickOn(stage, 5);
    EXPECT_TRUE(showsOwnMenu(stage, {{2, -3.5}}, own));
    stage.forget(loop);
}

}  // namespace
