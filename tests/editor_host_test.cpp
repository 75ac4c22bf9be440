// The editor in the hosts' windows, as a user meets it on an X server (run under Xvfb): the
// VST 3 view embedded in a window of our host, its run loop served, its pixels compared with
// the editor's own picture, a drag of the mouse heard as one gesture, the host's changes shown,
// the content scale honoured, and many opens and closes while the audio runs.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <string>
#include <vector>

#include "editor/editor.h"
#include "host/clap_host.h"
#include "host/threads.h"
#include "host/vst3_editor_host.h"
#include "host/vst3_host.h"
#include "plugin_fixture.h"

namespace {

using namespace vst3;
using namespace std::chrono_literals;

struct NoHost : editor::EditorHost {
    void beginEdit(int) override {}
    void performEdit(int, double) override {}
    void endEdit(int) override {}
};

// The editor's own picture of a state, drawn here, to hold a window's pixels against.
std::vector<std::uint8_t> expectedPicture(double scale, const std::vector<std::pair<int, double>>& values, int& width,
                                          int& height) {
    NoHost host;
    editor::Editor e(host);
    e.setScale(scale);
    for (const auto& [parameter, value] : values) e.setValue(parameter, value);
    const editor::Canvas canvas = e.draw();
    width = canvas.width(), height = canvas.height();
    return canvas.pixels();
}

// How many pixels differ in colour (alpha aside); the sizes must agree.
::testing::AssertionResult samePicture(const std::vector<std::uint8_t>& shot, int shotWidth, int shotHeight,
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

// Where a parameter's control is in the window, asked of the editor at this scale.
void controlAt(int parameter, double scale, int& x, int& y) {
    NoHost host;
    editor::Editor e(host);
    e.setScale(scale);
    for (y = 0; y < e.height(); y += 2)
        for (x = 0; x < e.width(); x += 2)
            if (e.parameterAt(x, y) == parameter) {
                x += static_cast<int>(40 * scale), y += static_cast<int>(60 * scale);  // into the knob
                return;
            }
}

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

TEST(Vst3Editor, InAHostWindowItLooksAsDrawnFollowsTheHostAndEditsInOneGesture) {
    host::X11Stage stage(editor::kBaseWidth, editor::kBaseHeight);
    ASSERT_TRUE(stage.ok()) << "no X display: run under xvfb-run";
    Vst3Session s;
    ASSERT_TRUE(s.plugin);
    IEditController* controller = s.plugin->controller();
    vst3host::RecordingHandler handler;
    controller->setComponentHandler(&handler);
    IPlugView* view = controller->createView(kEditorViewType);
    ASSERT_NE(view, nullptr);
    vst3host::EditorFrame frame(stage);
    view->setFrame(&frame);
    EXPECT_EQ(view->isPlatformTypeSupported(kPlatformTypeX11EmbedWindowID), kResultTrue);
    EXPECT_NE(view->isPlatformTypeSupported(kPlatformTypeHWND), kResultTrue);
    ViewRect size{};
    ASSERT_EQ(view->getSize(&size), kResultOk);
    EXPECT_EQ(size.right - size.left, editor::kBaseWidth);
    EXPECT_EQ(size.bottom - size.top, editor::kBaseHeight);
    ASSERT_EQ(view->attached(reinterpret_cast<void*>(stage.window()), kPlatformTypeX11EmbedWindowID), kResultOk);
    EXPECT_EQ(frame.registered(), 2u);  // the window's events and a timer
    stage.run(200ms);

    int w = 0, h = 0, ew = 0, eh = 0;
    auto shot = stage.screenshot(w, h);
    auto want = expectedPicture(1, {}, ew, eh);
    EXPECT_TRUE(samePicture(shot, w, h, want, ew, eh)) << "at open";

    // A drag of the stereo width knob upwards by 60 pixels: a fifth of its range.
    int x = 0, y = 0;
    controlAt(3, 1, x, y);
    stage.moveTo(x, y);
    stage.run(20ms);
    stage.press(true);
    for (int dy = 1; dy <= 60; ++dy) {
        stage.moveTo(x, y - dy);
        stage.run(2ms);
    }
    stage.press(false);
    stage.run(100ms);
    ASSERT_GE(handler.edits.size(), 3u);
    EXPECT_EQ(handler.edits.front().kind, 'b');
    EXPECT_EQ(handler.edits.back().kind, 'e');
    for (const auto& edit : handler.edits) EXPECT_EQ(edit.id, 3u);
    for (std::size_t i = 1; i + 1 < handler.edits.size(); ++i) EXPECT_EQ(handler.edits[i].kind, 'p');
    EXPECT_NEAR(handler.edits[handler.edits.size() - 2].value, (48.0 + 120) / 240, 1e-9);
    EXPECT_NEAR(controller->getParamNormalized(3), (48.0 + 120) / 240, 1e-9);

    // The host's change shows at the next picture.
    controller->setParamNormalized(5, 138.0 / 162);  // DI level -12 dB
    stage.run(150ms);
    shot = stage.screenshot(w, h);
    want = expectedPicture(1, {{3, 48}, {5, -12}}, ew, eh);
    EXPECT_TRUE(samePicture(shot, w, h, want, ew, eh)) << "after changes";

    // The host's content scale: the editor asks for twice the size and draws sharp at it.
    IPlugViewContentScaleSupport* scaling = nullptr;
    ASSERT_EQ(view->queryInterface(IPlugViewContentScaleSupport::iid.bytes, reinterpret_cast<void**>(&scaling)), kResultOk);
    EXPECT_EQ(scaling->setContentScaleFactor(2.0f), kResultOk);
    scaling->release();
    EXPECT_EQ(frame.resizes, 1);
    EXPECT_EQ(frame.lastSize.right, 2 * editor::kBaseWidth);
    stage.run(150ms);
    shot = stage.screenshot(w, h);
    want = expectedPicture(2, {{3, 48}, {5, -12}}, ew, eh);
    EXPECT_TRUE(samePicture(shot, w, h, want, ew, eh)) << "at scale 2";

    EXPECT_EQ(view->removed(), kResultOk);
    EXPECT_EQ(frame.registered(), 0u);
    view->setFrame(nullptr);
    view->release();
    controller->setComponentHandler(nullptr);
}

TEST(Vst3Editor, OpenedAndClosedAHundredTimesWhileTheAudioRuns) {
    host::X11Stage stage(editor::kBaseWidth, editor::kBaseHeight);
    ASSERT_TRUE(stage.ok()) << "no X display: run under xvfb-run";
    Vst3Session s;
    ASSERT_TRUE(s.plugin);
    ASSERT_TRUE(s.plugin->start(48000.0, 256, kSample32));
    std::atomic<bool> stop{false};
    std::atomic<int> blocks{0};
    host::Thread audio([&] {
        Channels3<float> io(256);
        for (int k = 0; k < 3; ++k)
            for (std::size_t j = 0; j < 256; ++j) io.in[k][j] = 0.5f * static_cast<float>(std::sin(0.01 * j * (k + 1)));
        while (!stop) {
            s.plugin->process(io.inputs, io.outputs, 256, {{0, 3, (blocks % 240) / 240.0}});
            ++blocks;
        }
    });
    vst3host::EditorFrame frame(stage);
    for (int round = 0; round < 100; ++round) {
        IPlugView* view = s.plugin->controller()->createView(kEditorViewType);
        ASSERT_NE(view, nullptr);
        view->setFrame(&frame);
        ASSERT_EQ(view->attached(reinterpret_cast<void*>(stage.window()), kPlatformTypeX11EmbedWindowID), kResultOk);
        stage.run(std::chrono::milliseconds(round % 10 == 0 ? 60 : 5));
        view->removed();
        view->release();
        ASSERT_EQ(frame.registered(), 0u) << "round " << round;
    }
    stop = true;
    audio.join();
    EXPECT_GT(blocks.load(), 100);
    s.plugin->stop();
}


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

TEST(ClapEditor, InAHostWindowItLooksAsDrawnFollowsTheHostAndTellsItsGestures) {
    host::X11Stage stage(editor::kBaseWidth, editor::kBaseHeight);
    ASSERT_TRUE(stage.ok()) << "no X display: run under xvfb-run";
    ClapSession s(stage);
    ASSERT_TRUE(s.gui);
    const clap_plugin_t* p = &s.plugin->plugin();
    EXPECT_TRUE(s.gui->is_api_supported(p, CLAP_WINDOW_API_X11, false));
    EXPECT_FALSE(s.gui->is_api_supported(p, CLAP_WINDOW_API_X11, true));  // embedded only
    EXPECT_FALSE(s.gui->is_api_supported(p, CLAP_WINDOW_API_WIN32, false));
    ASSERT_TRUE(s.plugin->activate(48000.0, 256));
    ASSERT_TRUE(s.open(stage));
    EXPECT_EQ(s.plugin->editorSources(), 2u);  // a timer and the window's connection
    std::uint32_t width = 0, height = 0;
    ASSERT_TRUE(s.gui->get_size(p, &width, &height));
    EXPECT_EQ(width, static_cast<std::uint32_t>(editor::kBaseWidth));
    stage.run(200ms);
    int w = 0, h = 0, ew = 0, eh = 0;
    auto shot = stage.screenshot(w, h);
    auto want = expectedPicture(1, {}, ew, eh);
    EXPECT_TRUE(samePicture(shot, w, h, want, ew, eh)) << "at open";

    // A drag outside processing: the value acts at once, the host is asked to flush and hears
    // one gesture there.
    int x = 0, y = 0;
    controlAt(3, 1, x, y);
    stage.moveTo(x, y);
    stage.run(20ms);
    stage.press(true);
    for (int dy = 1; dy <= 60; ++dy) {
        stage.moveTo(x, y - dy);
        stage.run(2ms);
    }
    stage.press(false);
    stage.run(100ms);
    EXPECT_EQ(s.plugin->value(3), 48.0);
    EXPECT_GT(s.plugin->flushRequests, 0);
    s.plugin->flush({});
    ASSERT_GE(s.plugin->heard.size(), 3u);
    EXPECT_EQ(s.plugin->heard.front().kind, 'b');
    EXPECT_EQ(s.plugin->heard.back().kind, 'e');
    for (const auto& event : s.plugin->heard) EXPECT_EQ(event.id, 3u);
    for (std::size_t i = 1; i + 1 < s.plugin->heard.size(); ++i) EXPECT_EQ(s.plugin->heard[i].kind, 'v');
    EXPECT_EQ(s.plugin->heard[s.plugin->heard.size() - 2].value, 48.0);

    // While processing, the next block's output events carry the gesture: a wheel notch.
    Channels3<float> io(64);
    host::runOnAnotherThread([&] { s.plugin->process(io.inputs, io.outputs, 64); });
    s.plugin->heard.clear();
    const int requests = s.plugin->flushRequests;
    int kx = 0, ky = 0;
    controlAt(0, 1, kx, ky);
    stage.moveTo(kx, ky);
    stage.wheel(1);
    stage.run(100ms);
    EXPECT_EQ(s.plugin->flushRequests, requests);
    host::runOnAnotherThread([&] { s.plugin->process(io.inputs, io.outputs, 64); });
    ASSERT_EQ(s.plugin->heard.size(), 3u);
    EXPECT_EQ(s.plugin->heard[1].kind, 'v');
    EXPECT_EQ(s.plugin->heard[1].id, 0u);
    EXPECT_EQ(s.plugin->heard[1].value, 0.1);

    // The host's change shows; then the host's scale, at twice the size.
    s.plugin->flush({{0, 5, -12.0}});
    stage.run(150ms);
    shot = stage.screenshot(w, h);
    want = expectedPicture(1, {{0, 0.1}, {3, 48}, {5, -12}}, ew, eh);
    EXPECT_TRUE(samePicture(shot, w, h, want, ew, eh)) << "after changes";
    EXPECT_TRUE(s.gui->set_scale(p, 2.0));
    ASSERT_TRUE(s.gui->get_size(p, &width, &height));
    EXPECT_EQ(width, 2u * editor::kBaseWidth);
    stage.resize(static_cast<int>(width), static_cast<int>(height));
    EXPECT_TRUE(s.gui->set_size(p, width, height));
    stage.run(150ms);
    shot = stage.screenshot(w, h);
    want = expectedPicture(2, {{0, 0.1}, {3, 48}, {5, -12}}, ew, eh);
    EXPECT_TRUE(samePicture(shot, w, h, want, ew, eh)) << "at scale 2";

    s.gui->destroy(p);
    EXPECT_EQ(s.plugin->editorSources(), 0u);
}

TEST(ClapEditor, OpenedAndClosedAHundredTimesWhileTheAudioRuns) {
    host::X11Stage stage(editor::kBaseWidth, editor::kBaseHeight);
    ASSERT_TRUE(stage.ok()) << "no X display: run under xvfb-run";
    ClapSession s(stage);
    ASSERT_TRUE(s.gui);
    ASSERT_TRUE(s.plugin->activate(48000.0, 256));
    std::atomic<bool> stop{false};
    std::atomic<int> blocks{0};
    host::Thread audio([&] {
        Channels3<float> io(256);
        for (int k = 0; k < 3; ++k)
            for (std::size_t j = 0; j < 256; ++j) io.in[k][j] = 0.5f * static_cast<float>(std::sin(0.01 * j * (k + 1)));
        const claphost::EventList change({{0, 3, 20.0}});
        while (!stop) {
            s.plugin->process(io.inputs, io.outputs, 256, change);
            ++blocks;
        }
    });
    for (int round = 0; round < 100; ++round) {
        ASSERT_TRUE(s.open(stage)) << "round " << round;
        stage.run(std::chrono::milliseconds(round % 10 == 0 ? 60 : 5));
        s.gui->destroy(&s.plugin->plugin());
        ASSERT_EQ(s.plugin->editorSources(), 0u) << "round " << round;
    }
    stop = true;
    audio.join();
    EXPECT_GT(blocks.load(), 100);
}

}  // namespace
