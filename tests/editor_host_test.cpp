// The editor in the hosts' windows, as a user meets it on an X server (run under Xvfb): the
// VST 3 view embedded in a window of our host, its run loop served, its pixels compared with
// the editor's own picture, a drag of the mouse heard as one gesture, the host's changes shown,
// the content scale honoured, and many opens and closes while the audio runs.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "editor/editor.h"
#include <dlfcn.h>
#include <lv2/instance-access/instance-access.h>
#include <lv2/ui/ui.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include "entry/embedded_decoder.h"
#include "tests/editor_stage.h"

namespace {

using namespace vst3;
using namespace editorstage;
using namespace std::chrono_literals;

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

    EXPECT_TRUE(windowShows(stage, 1, {})) << "at open";

    dragStereoWidthUp(stage);
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
    EXPECT_TRUE(windowShows(stage, 1, {{3, 48}, {5, -12}})) << "after changes";

    // The host's content scale: the editor asks for twice the size and draws sharp at it.
    IPlugViewContentScaleSupport* scaling = nullptr;
    ASSERT_EQ(view->queryInterface(IPlugViewContentScaleSupport::iid.bytes, reinterpret_cast<void**>(&scaling)), kResultOk);
    EXPECT_EQ(scaling->setContentScaleFactor(2.0f), kResultOk);
    scaling->release();
    EXPECT_EQ(frame.resizes, 1);
    EXPECT_EQ(frame.lastSize.right, 2 * editor::kBaseWidth);
    stage.run(150ms);
    EXPECT_TRUE(windowShows(stage, 2, {{3, 48}, {5, -12}})) << "at scale 2";

    // The host's size, any proportions: the editor fills it; below its smallest it is refused.
    scaling = nullptr;
    view->queryInterface(IPlugViewContentScaleSupport::iid.bytes, reinterpret_cast<void**>(&scaling));
    scaling->setContentScaleFactor(1.0f);
    scaling->release();
    ViewRect small{0, 0, 300, 200};
    EXPECT_EQ(view->checkSizeConstraint(&small), kResultTrue);
    EXPECT_EQ(small.right, editor::kBaseWidth / 2);
    EXPECT_EQ(small.bottom, editor::kBaseHeight / 2);
    stage.resize(1500, 840);
    ViewRect large{0, 0, 1500, 840};
    EXPECT_EQ(view->onSize(&large), kResultOk);
    stage.run(150ms);
    int sw = 0, sh = 0, ew = 0, eh = 0;
    EXPECT_TRUE(samePicture(stage.screenshot(sw, sh), sw, sh, expectedPicture(1, {{3, 48}, {5, -12}}, ew, eh, 1500, 840), ew,
                            eh))
        << "at 1500 x 840";

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


TEST(Vst3Editor, MeasureWhileTheTakePlaysAndApplyIsOneGesturePerControl) {
    host::X11Stage stage(editor::kBaseWidth, editor::kBaseHeight);
    ASSERT_TRUE(stage.ok()) << "no X display: run under xvfb-run";
    Vst3EditorSession session(stage);
    ASSERT_NE(session.view, nullptr);
    Vst3Session& s = session.s;
    const vst3host::RecordingHandler& handler = session.handler;
    stage.run(100ms);
    {
        // MEASURE, then APPLY clicked until the measurement has an answer (before, it does nothing).
        TakePlayer player([&](float** in, float** out, int n) { s.plugin->process(in, out, n); });
        click(stage, editor::Button::Measure);
        for (int tries = 0; tries < 40 && handler.edits.empty(); ++tries) {
            stage.run(100ms);
            click(stage, editor::Button::Apply);
        }
    }
    // One step: the delay, the polarity and the tone match (off until now) begun together, the
    // curve set in the processor, the values, the ends.
    ASSERT_EQ(handler.edits.size(), 9u);
    const char kinds[] = "bbbpppeee";
    const ParamID ids[] = {11, 12, 14};
    for (std::size_t i = 0; i < 9; ++i) {
        EXPECT_EQ(handler.edits[i].kind, kinds[i]);
        EXPECT_EQ(handler.edits[i].id, ids[i % 3]);
    }
    // 72.6 samples at 48 kHz is 1.5125 ms; the matched DI lies within a sample of it.
    EXPECT_NEAR(handler.edits[3].value * 20 - 10, 1.5125, 1.0 / 48);
    EXPECT_EQ(handler.edits[4].value, 1.0);
    EXPECT_EQ(handler.edits[5].value, 1.0);  // 100 %
    vst3host::MemoryStream state;
    ASSERT_EQ(s.plugin->component()->getState(&state), kResultOk);
    align::ToneCurve curve;
    ASSERT_TRUE(vintrel::EmbeddedDecoder::curveFromBytes(state.bytes.data() + 260 + 12 + 16 + 12, vintrel::EmbeddedDecoder::kCurveBytes, curve));
    EXPECT_TRUE(curve.learned());
}


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
    EXPECT_TRUE(windowShows(stage, 1, {})) << "at open";

    // A drag outside processing: the value acts at once, the host is asked to flush and hears
    // one gesture there.
    dragStereoWidthUp(stage);
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
    EXPECT_TRUE(windowShows(stage, 1, {{0, 0.1}, {3, 48}, {5, -12}})) << "after changes";
    EXPECT_TRUE(s.gui->set_scale(p, 2.0));
    ASSERT_TRUE(s.gui->get_size(p, &width, &height));
    EXPECT_EQ(width, 2u * editor::kBaseWidth);
    stage.resize(static_cast<int>(width), static_cast<int>(height));
    EXPECT_TRUE(s.gui->set_size(p, width, height));
    stage.run(150ms);
    EXPECT_TRUE(windowShows(stage, 2, {{0, 0.1}, {3, 48}, {5, -12}})) << "at scale 2";

    // The host's size, any proportions: the editor fills it; below its smallest it is adjusted.
    EXPECT_TRUE(s.gui->set_scale(p, 1.0));
    std::uint32_t w = 300, h = 200;
    EXPECT_TRUE(s.gui->adjust_size(p, &w, &h));
    EXPECT_EQ(w, static_cast<std::uint32_t>(editor::kBaseWidth / 2));
    EXPECT_EQ(h, static_cast<std::uint32_t>(editor::kBaseHeight / 2));
    stage.resize(1500, 840);
    EXPECT_TRUE(s.gui->set_size(p, 1500, 840));
    stage.run(150ms);
    int sw = 0, sh = 0, ew = 0, eh = 0;
    EXPECT_TRUE(samePicture(stage.screenshot(sw, sh), sw, sh,
                            expectedPicture(1, {{0, 0.1}, {3, 48}, {5, -12}}, ew, eh, 1500, 840), ew, eh))
        << "at 1500 x 840";

    s.gui->destroy(p);
    EXPECT_EQ(s.plugin->editorSources(), 0u);
}

TEST(ClapEditor, MeasureWhileTheTakePlaysAndApplyIsOneGesturePerControl) {
    host::X11Stage stage(editor::kBaseWidth, editor::kBaseHeight);
    ASSERT_TRUE(stage.ok()) << "no X display: run under xvfb-run";
    ClapSession s(stage);
    ASSERT_TRUE(s.gui);
    ASSERT_TRUE(s.plugin->activate(48000.0, 512));
    ASSERT_TRUE(s.open(stage));
    stage.run(100ms);
    // The host's list of what it heard is read here only while the audio thread is stopped.
    std::vector<claphost::Plugin::Heard> heard;
    for (int round = 0; round < 40 && heard.empty(); ++round) {
        TakePlayer player([&](float** in, float** out, int n) { s.plugin->process(in, out, static_cast<std::uint32_t>(n)); });
        if (round == 0) click(stage, editor::Button::Measure);
        stage.run(100ms);
        click(stage, editor::Button::Apply);
        stage.run(50ms);  // the gestures go out with the next blocks
        player.stopPlaying();
        heard = s.plugin->heard;
    }
    ASSERT_EQ(heard.size(), 9u);
    const char kinds[] = "bbbvvveee";
    const clap_id ids[] = {11, 12, 14};
    for (std::size_t i = 0; i < 9; ++i) {
        EXPECT_EQ(heard[i].kind, kinds[i]);
        EXPECT_EQ(heard[i].id, ids[i % 3]);
    }
    EXPECT_NEAR(heard[3].value, 1.5125, 1.0 / 48);
    EXPECT_EQ(heard[4].value, 1.0);
    EXPECT_EQ(heard[5].value, 100.0);
    EXPECT_EQ(s.plugin->value(11), heard[3].value);
    EXPECT_EQ(s.plugin->value(14), 100.0);
    std::vector<std::uint8_t> state;
    ASSERT_TRUE(s.plugin->saveState(state));
    align::ToneCurve curve;
    ASSERT_TRUE(vintrel::EmbeddedDecoder::curveFromBytes(state.data() + 260 + 12 + 16 + 12, vintrel::EmbeddedDecoder::kCurveBytes, curve));
    EXPECT_TRUE(curve.learned());
    s.gui->destroy(&s.plugin->plugin());
}

// What a host saw lose a click: with the transport stopped, a drag of the stereo width, a click
// on "swapped", a click on "unprocessed"; the host flushes late and sends back, with its flush
// (or its next block), the values it last knew. The editor's edits win, the host hears each,
// and the state the host saves holds them.
TEST(ClapEditor, EditsOutlastTheHostsEchoOfOlderValuesWhenItFlushesLate) {
    for (const bool byProcessing : {false, true}) {
        SCOPED_TRACE(byProcessing ? "the next block" : "a late flush");
        host::X11Stage stage(editor::kBaseWidth, editor::kBaseHeight);
        ASSERT_TRUE(stage.ok()) << "no X display: run under xvfb-run";
        ClapSession s(stage);
        ASSERT_TRUE(s.gui);
        ASSERT_TRUE(s.plugin->activate(48000.0, 256));
        ASSERT_TRUE(s.open(stage));
        stage.run(100ms);
        auto clickAt = [&](int x, int y) {
            stage.moveTo(x, y);
            stage.run(20ms);
            stage.press(true);
            stage.run(10ms);
            stage.press(false);
            stage.run(300ms);
        };
        dragStereoWidthUp(stage);
        stage.run(300ms);
        clickAt(100, 304);  // "swapped", the second label of L/R swap
        clickAt(913, 31);   // "unprocessed", the second half of the A/B switch
        EXPECT_GT(s.plugin->flushRequests, 0);
        // The host's values from before the edits, then the flush it was asked for.
        const std::vector<claphost::ParamChange> echo = {{0, 3, 0.0}, {0, 4, 0.0}, {0, 8, 0.0}};
        if (byProcessing) {
            Channels3<float> io(64);
            host::runOnAnotherThread([&] { s.plugin->process(io.inputs, io.outputs, 64, echo); });
        } else {
            s.plugin->flush(echo);
        }
        EXPECT_EQ(s.plugin->value(3), 48.0);
        EXPECT_EQ(s.plugin->value(4), 1.0);
        EXPECT_EQ(s.plugin->value(8), 1.0);
        double heardAb = -1;
        for (const auto& event : s.plugin->heard)
            if (event.kind == 'v' && event.id == 8) heardAb = event.value;
        EXPECT_EQ(heardAb, 1.0);
        // Once heard, the host's values count again, and the state holds the edits.
        std::vector<std::uint8_t> state;
        ASSERT_TRUE(s.plugin->saveState(state));
        auto reloaded = claphost::Plugin::create(*s.module, "net.brelvander.guitar-decoder");
        ASSERT_TRUE(reloaded->loadState(state));
        EXPECT_EQ(reloaded->value(8), 1.0);
        s.plugin->flush({{0, 8, 0.0}});
        EXPECT_EQ(s.plugin->value(8), 0.0);
        s.gui->destroy(&s.plugin->plugin());
    }
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


// The LV2 editor module loaded as a host loads it: the plug-in's instance beside it for the
// meters, its window in ours, the host's idle calls, and its writes to the control ports.
TEST(Lv2Editor, WritesTheControlPortsAndTouchesAroundADrag) {
    host::X11Stage stage(editor::kBaseWidth, editor::kBaseHeight);
    ASSERT_TRUE(stage.ok()) << "no X display: run under xvfb-run";
    void* module = dlopen(VINTREL_LV2_EDITOR, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    const auto describe = reinterpret_cast<const LV2UI_Descriptor* (*)(uint32_t)>(dlsym(module, "lv2ui_descriptor"));
    ASSERT_NE(describe, nullptr);
    const LV2UI_Descriptor* ui = describe(0);
    ASSERT_NE(ui, nullptr);
    EXPECT_STREQ(ui->URI, "urn:brelvander:guitar-decoder#editor");
    const auto* idle = static_cast<const LV2UI_Idle_Interface*>(ui->extension_data(LV2_UI__idleInterface));
    ASSERT_NE(idle, nullptr);

    struct Written {
        std::vector<std::pair<std::uint32_t, float>> values;
        std::vector<std::pair<std::uint32_t, bool>> touches;
    } written;
    LV2UI_Touch touch{&written, [](LV2UI_Feature_Handle h, uint32_t port, bool grabbed) {
                          static_cast<Written*>(h)->touches.emplace_back(port, grabbed);
                      }};
    LV2_Feature parent{LV2_UI__parent, reinterpret_cast<void*>(stage.window())};
    LV2_Feature touching{LV2_UI__touch, &touch};
    const LV2_Feature* features[] = {&parent, &touching, nullptr};
    LV2UI_Widget widget = nullptr;
    auto write = [](LV2UI_Controller c, uint32_t port, uint32_t size, uint32_t format, const void* buffer) {
        if (format == 0 && size == sizeof(float))
            static_cast<Written*>(c)->values.emplace_back(port, *static_cast<const float*>(buffer));
    };
    LV2UI_Handle handle = ui->instantiate(ui, "urn:brelvander:guitar-decoder", "", write, &written, &widget, features);
    ASSERT_NE(handle, nullptr);
    EXPECT_NE(widget, nullptr);
    const float width = -60.0f;  // the host tells the control's value
    ui->port_event(handle, 6 + 3, sizeof width, 0, &width);
    const int loop = stage.every(16, [&] { idle->idle(handle); });
    stage.run(200ms);
    EXPECT_TRUE(windowShows(stage, 1, {{3, -60}})) << "with the host's value";

    // The host resizes the editor by resizing its window, as an LV2 host's toolkit does (the
    // deprecated resize interface is not offered): the editor fills what it is given; below its
    // smallest size the layout is drawn scaled down, not cropped.
    EXPECT_EQ(ui->extension_data(LV2_UI__resize), nullptr);
    auto showsAt = [&](int w, int h) {
        int sw = 0, sh = 0, ew = 0, eh = 0;
        stage.run(150ms);
        const auto shot = stage.screenshot(sw, sh);
        const auto want = expectedPicture(1, {{3, -60}}, ew, eh, w, h);
        // The stage may be larger than the editor's window: compare the editor's part.
        std::vector<std::uint8_t> part;
        for (int y = 0; y < eh && y < sh; ++y)
            part.insert(part.end(), shot.begin() + 4 * y * sw, shot.begin() + 4 * (y * sw + std::min(ew, sw)));
        return samePicture(part, std::min(ew, sw), std::min(eh, sh), want, ew, eh);
    };
    const auto window = reinterpret_cast<std::uintptr_t>(widget);
    stage.resize(1500, 840);
    stage.resizeWindow(window, 1500, 840);
    EXPECT_TRUE(showsAt(1500, 840)) << "its window resized by the host";
    stage.resizeWindow(window, 1200, 760);
    EXPECT_TRUE(showsAt(1200, 760)) << "and resized again";
    stage.resizeWindow(window, 300, 200);
    EXPECT_TRUE(showsAt(300, 200)) << "forced below the smallest size";
    stage.resizeWindow(window, editor::kBaseWidth, editor::kBaseHeight);
    stage.resize(editor::kBaseWidth, editor::kBaseHeight);
    stage.run(100ms);

    dragStereoWidthUp(stage);
    ASSERT_FALSE(written.values.empty());
    for (const auto& [port, value] : written.values) EXPECT_EQ(port, 9u);
    EXPECT_EQ(written.values.back().second, -12.0f);  // -60 and a fifth of the range up
    ASSERT_EQ(written.touches.size(), 2u);
    EXPECT_EQ(written.touches[0], std::make_pair(9u, true));
    EXPECT_EQ(written.touches[1], std::make_pair(9u, false));
    // The tone match's amount is its own port, after the bypass's: read and written there.
    const float match = 20.0f;
    ui->port_event(handle, 21, sizeof match, 0, &match);
    stage.run(100ms);  // the editor takes host values at its own pace (at most 30 times a second)
    written.values.clear(), written.touches.clear();
    dragUp(stage, vintrel::kDiMatch);
    ASSERT_FALSE(written.values.empty());
    for (const auto& [port, value] : written.values) EXPECT_EQ(port, 21u);
    EXPECT_EQ(written.values.back().second, 40.0f);  // 20 % and a fifth of the range up
    ASSERT_EQ(written.touches.size(), 2u);
    EXPECT_EQ(written.touches[0], std::make_pair(21u, true));
    stage.forget(loop);
    ui->cleanup(handle);
    dlclose(module);
}

// Runs a program with these arguments and environment additions; answers its process id.
pid_t spawn(const std::vector<std::string>& arguments, const std::vector<std::string>& environment) {
    std::vector<std::string> env = environment;
    for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
    std::vector<char*> argv, envp;
    for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    argv.push_back(nullptr), envp.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &files, nullptr, argv.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&files);
    return pid;
}

void stopProgram(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
}

// Debian's jalv.gtk3, on a JACK server of its own with a dummy sound card, shows the editor
// and takes a drag of it.
TEST(Lv2Editor, JalvShowsItAndADragChangesTheControl) {
#if defined(VINTREL_SANITIZED_MODULES)
    GTEST_SKIP() << "jalv cannot load a sanitized module; the plain build runs this";
#endif
    if (std::system("command -v jalv.gtk3 >/dev/null && command -v jackd >/dev/null") != 0) {
        if (std::getenv("REQUIRE_JALV")) FAIL() << "jalv.gtk3 and jackd are needed (Debian: jalv, jackd2)";
        GTEST_SKIP() << "jalv.gtk3 or jackd is not installed (Debian: jalv, jackd2)";
    }
    host::X11Stage stage(1, 1);
    ASSERT_TRUE(stage.ok()) << "no X display: run under xvfb-run";
    const std::string server = "vintrel-editor-" + std::to_string(getpid());
    const pid_t jack = spawn({"jackd", "-n", server, "--no-realtime", "-d", "dummy", "-r", "48000", "-p", "256"}, {});
    ASSERT_GT(jack, 0);
    std::this_thread::sleep_for(1s);
    const pid_t jalv = spawn({"jalv.gtk3", "--no-menu", "urn:brelvander:guitar-decoder"},
                             {"LV2_PATH=" + std::string(VINTREL_LV2_FOLDER), "JACK_DEFAULT_SERVER=" + server});
    struct Stopped {  // jalv, then its server, however the test ends
        pid_t jalv, jack;
        ~Stopped() { stopProgram(jalv), stopProgram(jack); }
    } stopped{jalv, jack};
    ASSERT_GT(jalv, 0);
    const std::string title = "Brelvander_3-channel acoustic guit decoder MS + DI";
    for (int i = 0; i < 100 && !stage.hasWindowNamed(title); ++i) std::this_thread::sleep_for(100ms);
    std::this_thread::sleep_for(1s);
    const bool shown = stage.hasWindowNamed(title);
    int ew = 0, eh = 0;
    auto want = expectedPicture(1, {}, ew, eh);
    auto shot = stage.screenshotOfScreen(0, 0, ew, eh);
    EXPECT_TRUE(shown);
    EXPECT_TRUE(samePicture(shot, ew, eh, want, ew, eh)) << "jalv's window at open";

    int x = 0, y = 0;
    controlAt(3, 1, x, y);
    stage.moveOnScreen(x, y);
    std::this_thread::sleep_for(50ms);
    stage.press(true);
    for (int dy = 1; dy <= 60; ++dy) {
        stage.moveOnScreen(x, y - dy);
        std::this_thread::sleep_for(5ms);
    }
    stage.press(false);
    std::this_thread::sleep_for(500ms);
    shot = stage.screenshotOfScreen(0, 0, ew, eh);
    want = expectedPicture(1, {{3, 48}}, ew, eh);
    EXPECT_TRUE(samePicture(shot, ew, eh, want, ew, eh)) << "jalv's window after the drag";

    // jalv's window made larger, as a user drags its corner: the editor fills it (jalv's idle
    // calls pace it; a loaded machine may take a while).
    // (Larger both ways: GTK keeps a window at least as large as what its child asked for.)
    stage.resizeWindow(stage.windowNamed(title), 1500, 960);
    want = expectedPicture(1, {{3, 48}}, ew, eh, 1500, 960);
    ::testing::AssertionResult resized = ::testing::AssertionFailure();
    for (int i = 0; i < 50 && !resized; ++i) {
        std::this_thread::sleep_for(200ms);
        shot = stage.screenshotOfScreen(0, 0, 1500, 960);
        resized = samePicture(shot, 1500, 960, want, ew, eh);
    }
    EXPECT_TRUE(resized) << "jalv's window at 1500 x 960";
}


// Debian's Qtractor on a JACK server of its own, with a session of one track that carries the
// CLAP plug-in, and the plug-in's editor opened as a user opens it: a double click on it in the
// track list. Its configuration is fresh (a home of its own), so its windows are where a new
// user's are. It is killed, its server stopped and its folder removed however the test ends.
class QtractorSession {
public:
    ~QtractorSession() {
        if (qtractor_ > 0) kill(qtractor_, SIGKILL), waitpid(qtractor_, nullptr, 0);
        stopProgram(jack_);
        if (!folder_.empty()) std::filesystem::remove_all(folder_);
    }

    // Whether its main window shows the session.
    bool start(host::X11Stage& stage, const std::string& sequencer) {
        char folder[] = "/tmp/vintrel-qtractor-XXXXXX";
        if (mkdtemp(folder) == nullptr) return false;
        folder_ = folder;
        const std::string session = folder_ + "/decoder.qtr";
        std::ofstream(session) << "<!DOCTYPE qtractorSession>\n<session name=\"decoder\">\n"
                                  " <properties><sample-rate>48000</sample-rate></properties>\n <tracks>\n"
                                  "  <track name=\"Guitar\" type=\"audio\">\n   <properties>\n"
                                  "    <input-bus>Master</input-bus>\n    <output-bus>Master</output-bus>\n"
                                  "   </properties>\n   <plugins>\n    <plugin type=\"CLAP\">\n"
                                  "     <filename>" VINTREL_CLAP_PATH "</filename>\n     <index>0</index>\n"
                                  "     <activated>1</activated>\n    </plugin>\n   </plugins>\n  </track>\n"
                                  " </tracks>\n</session>\n";
        const std::string server = "vintrel-qtractor-" + std::to_string(getpid());
        jack_ = spawn({"jackd", "-n", server, "--no-realtime", "-d", "dummy", "-r", "48000", "-p", "256"}, {});
        std::this_thread::sleep_for(1s);
        qtractor_ = spawn({"qtractor", session}, {"JACK_DEFAULT_SERVER=" + server, "HOME=" + folder_,
                                                  "XDG_CONFIG_HOME=" + folder_, "LD_PRELOAD=" + sequencer});
        if (jack_ <= 0 || qtractor_ <= 0) return false;
        for (int i = 0; i < 150 && main_ == 0; ++i, std::this_thread::sleep_for(100ms)) main_ = stage.windowNamed(session, true);
        std::this_thread::sleep_for(1s);  // the session's tracks laid out
        return main_ != 0;
    }

    // The editor's window, or 0.
    unsigned long openEditor(host::X11Stage& stage) {
        const std::string title = "Brelvander_3-channel acoustic guit decoder MS + DI";
        int x = 0, y = 0;
        stage.originOf(main_, x, y);
        for (int attempt = 0; attempt < 3; ++attempt) {
            stage.moveOnScreen(x + 180, y + 179);  // the track's first plug-in, in the track list
            std::this_thread::sleep_for(100ms);
            for (int click = 0; click < 2; ++click) {
                stage.press(true), stage.press(false);
                std::this_thread::sleep_for(80ms);
            }
            for (int i = 0; i < 30; ++i, std::this_thread::sleep_for(100ms))
                if (const unsigned long editor = stage.windowNamed(title, true)) return editor;
        }
        return 0;
    }

private:
    std::string folder_;
    pid_t jack_ = -1, qtractor_ = -1;
    unsigned long main_ = 0;
};

// Another program's window showing the editor, and a user's hand on it: the editor's picture
// awaited, drags and clicks at its controls.
struct EditorOnScreen {
    host::X11Stage& stage;
    int x = 0, y = 0;  // the window's corner on the screen
    EditorOnScreen(host::X11Stage& s, unsigned long window) : stage(s) { stage.originOf(window, x, y); }

    // Whether the window shows the editor's picture of these values within that time.
    ::testing::AssertionResult shows(const std::vector<std::pair<int, double>>& values, std::chrono::milliseconds within) {
        int w = 0, h = 0;
        const auto want = expectedPicture(1, values, w, h);
        const auto until = std::chrono::steady_clock::now() + within;
        ::testing::AssertionResult same = ::testing::AssertionFailure();
        while (!(same = samePicture(stage.screenshotOfScreen(x, y, w, h), w, h, want, w, h)) &&
               std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(10ms);
        return same;
    }
    void dragStereoWidthUp() {
        int kx = 0, ky = 0;
        controlAt(3, 1, kx, ky);
        stage.moveOnScreen(x + kx, y + ky);
        std::this_thread::sleep_for(50ms);
        stage.press(true);
        for (int dy = 1; dy <= 60; ++dy, std::this_thread::sleep_for(5ms)) stage.moveOnScreen(x + kx, y + ky - dy);
        stage.press(false);
    }
    void doubleClickStereoWidth() {  // back to its default
        int kx = 0, ky = 0;
        controlAt(3, 1, kx, ky);
        stage.moveOnScreen(x + kx, y + ky);
        std::this_thread::sleep_for(50ms);
        stage.press(true), stage.press(false);
        std::this_thread::sleep_for(80ms);
        stage.press(true), stage.press(false);
    }
    // The pointer on a half of the A/B switch, and that long after, a press released 30 ms later.
    void clickStill(int half, std::chrono::milliseconds after) {
        int bx = 0, by = 0;
        abAt(half, 1, bx, by);
        stage.moveOnScreen(x + bx, y + by);
        std::this_thread::sleep_for(after);
        stage.press(true);
        std::this_thread::sleep_for(30ms);
        stage.press(false);
    }
};

// Qtractor's CLAP host lost a click held still on UNPROCESSED a second after a drag of the
// stereo width, in 4 runs of 11. Here every such click lights the switch within the 250 ms a
// user watches it for; the switch and the knob (a double click) go back each run.
TEST(ClapEditor, QtractorServesAStillClickAfterADragInEveryRun) {
#if defined(VINTREL_SANITIZED_MODULES)
    GTEST_SKIP() << "Qtractor cannot load a sanitized module; the plain build runs this";
#elif !defined(VINTREL_NO_SEQUENCER)
    if (std::getenv("REQUIRE_QTRACTOR")) FAIL() << "the ALSA headers are needed (Debian: libasound2-dev)";
    GTEST_SKIP() << "no ALSA headers to build the sequencer Qtractor needs (Debian: libasound2-dev)";
#else
    if (std::system("command -v qtractor >/dev/null && command -v jackd >/dev/null") != 0) {
        if (std::getenv("REQUIRE_QTRACTOR")) FAIL() << "qtractor and jackd are needed (Debian: qtractor, jackd2)";
        GTEST_SKIP() << "qtractor or jackd is not installed (Debian: qtractor, jackd2)";
    }
    host::X11Stage stage(1, 1);
    ASSERT_TRUE(stage.ok()) << "no X display: run under xvfb-run";
    QtractorSession qtractor;
    ASSERT_TRUE(qtractor.start(stage, VINTREL_NO_SEQUENCER)) << "Qtractor did not show its session";
    const unsigned long window = qtractor.openEditor(stage);
    ASSERT_NE(window, 0u) << "Qtractor did not open the editor";
    EditorOnScreen editor(stage, window);
    ASSERT_TRUE(editor.shows({}, 3s)) << "the editor as it opens";
    constexpr int kRuns = 12;
    int lost = 0;
    for (int run = 0; run < kRuns; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        editor.dragStereoWidthUp();
        EXPECT_TRUE(editor.shows({{3, 48}}, 1s)) << "after the drag";
        editor.clickStill(1, std::chrono::milliseconds(1000 + 40 * run));
        lost += !editor.shows({{3, 48}, {8, 1}}, 250ms);
        EXPECT_TRUE(editor.shows({{3, 48}, {8, 1}}, 1s));
        editor.clickStill(0, 300ms);
        EXPECT_TRUE(editor.shows({{3, 48}}, 1s)) << "PROCESSED again";
        editor.doubleClickStereoWidth();
        EXPECT_TRUE(editor.shows({}, 1s)) << "the stereo width back";
    }
    EXPECT_EQ(lost, 0) << "of " << kRuns << " clicks on UNPROCESSED a second after a drag";
#endif
}

}  // namespace
