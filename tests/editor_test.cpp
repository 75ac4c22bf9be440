// The editor through its format-neutral part, as a user meets it: pictures of its states equal
// the stored ones, and each way of moving a control gives grid values in exactly one gesture.
// UPDATE_EDITOR_PICTURES=1 writes the pictures anew (scripts/update-editor-pictures.sh).
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "editor/editor.h"
#include "effect/decoder_parameters.h"
#include "entry/embedded_decoder.h"
#include "tests/synthetic_take.h"
#include "tests/tone_take.h"
#include "tools/vstrender/demo.h"
#include "tools/vstrender/png_file.h"

namespace {

// What the editor told its host, in order.
struct Recorder : editor::EditorHost {
    struct Call {
        char kind;  // 'b'egin, 'p'erform, 'e'nd
        int parameter;
        double value;
    };
    std::vector<Call> calls;
    void beginEdit(int p) override { calls.push_back({'b', p, 0}); }
    void performEdit(int p, double v) override { calls.push_back({'p', p, v}); }
    void endEdit(int p) override { calls.push_back({'e', p, 0}); }
    // The tone match set ('c'), inside a step ('s' ... 'S').
    align::ToneCurve curve;
    align::ToneCurve toneCurve() override { return curve; }
    void setToneCurve(const align::ToneCurve& c) override {
        curve = c;
        calls.push_back({'c', -1, 0});
    }
    void beginStep() override { calls.push_back({'s', -1, 0}); }
    void endStep() override { calls.push_back({'S', -1, 0}); }

    // Exactly one gesture of `parameter`: its begin, values, end; answers the values.
    std::vector<double> oneGesture(int parameter) const {
        std::vector<double> values;
        EXPECT_GE(calls.size(), 2u);
        if (calls.size() < 2) return values;
        EXPECT_EQ(calls.front().kind, 'b');
        EXPECT_EQ(calls.back().kind, 'e');
        for (const Call& c : calls) {
            EXPECT_EQ(c.parameter, parameter);
            if (c.kind == 'p') values.push_back(c.value);
        }
        for (std::size_t i = 1; i + 1 < calls.size(); ++i) EXPECT_EQ(calls[i].kind, 'p') << "call " << i;
        return values;
    }
};

bool onGrid(int parameter, double v) {
    const decoder::Parameter& p = decoder::kParameters[static_cast<std::size_t>(parameter)];
    const double steps = v / p.step;
    return std::fabs(steps - std::round(steps)) < 1e-6 && v >= p.min && v <= p.max;
}

// A point inside a parameter's control, found by asking the editor, in window pixels.
struct Point {
    double x, y;
};
Point pointOf(const editor::Editor& e, int parameter, double fromTop = 0.5) {
    for (int y = 0; y < e.height(); y += 2)
        for (int x = 0; x < e.width(); x += 2)
            if (e.parameterAt(x, y) == parameter) {
                // The first row found is its top; look down its column for the bottom.
                int bottom = y;
                while (e.parameterAt(x + 8, bottom + 1) == parameter) ++bottom;
                return {x + 8.0, y + (bottom - y) * fromTop};
            }
    ADD_FAILURE() << "no control for parameter " << parameter;
    return {0, 0};
}

TEST(EditorInteraction, ADragIsOneGestureOfGridValuesAndShiftIsFiner) {
    for (double scale : {1.0, 2.0}) {
        Recorder host;
        editor::Editor e(host);
        e.setScale(scale);
        const Point knob = pointOf(e, decoder::kStereoWidth - 1);
        e.mouseDown(knob.x, knob.y, 0, 1);
        for (int dy = 1; dy <= 60; ++dy) e.mouseMove(knob.x, knob.y - dy * scale, 0);
        e.mouseUp(knob.x, knob.y - 60 * scale);
        const auto values = host.oneGesture(decoder::kStereoWidth - 1);
        ASSERT_FALSE(values.empty());
        for (double v : values) EXPECT_TRUE(onGrid(3, v)) << v;
        // 60 of the 300 units a whole range takes: a fifth of 240.
        EXPECT_NEAR(values.back(), 48.0, 0.1) << "scale " << scale;
        EXPECT_EQ(e.value(3), values.back());

        Recorder fine;
        editor::Editor f(fine);
        f.setScale(scale);
        f.mouseDown(knob.x, knob.y, editor::kShift, 1);
        for (int dy = 1; dy <= 60; ++dy) f.mouseMove(knob.x, knob.y - dy * scale, editor::kShift);
        f.mouseUp(knob.x, knob.y);
        EXPECT_NEAR(fine.oneGesture(3).back(), 4.8, 0.1);
    }
}

TEST(EditorInteraction, WheelDoubleClickAndSwitchClicks) {
    Recorder host;
    editor::Editor e(host);
    const Point level = pointOf(e, decoder::kMidTrim - 1);
    e.wheel(level.x, level.y, 1, 0);
    EXPECT_EQ(host.oneGesture(0), std::vector<double>{0.1});
    host.calls.clear();
    e.wheel(level.x, level.y, -3, 0);
    EXPECT_NEAR(host.oneGesture(0).at(0), -0.2, 1e-12);
    host.calls.clear();
    e.mouseDown(level.x, level.y, 0, 2);  // a double click: back to the default
    e.mouseUp(level.x, level.y);
    EXPECT_EQ(host.oneGesture(0), std::vector<double>{0.0});

    // A list: the label clicked; the name above it: the next label, round again.
    const int active = decoder::kActiveChannels - 1;
    host.calls.clear();
    const Point third = pointOf(e, active, 0.92);
    e.mouseDown(third.x, third.y, 0, 1);
    e.mouseUp(third.x, third.y);
    EXPECT_EQ(host.oneGesture(active), std::vector<double>{2.0});
    host.calls.clear();
    const Point name = pointOf(e, active, 0.02);
    e.mouseDown(name.x, name.y, 0, 1);
    EXPECT_EQ(host.oneGesture(active), std::vector<double>{0.0});
    // The A/B switch: its second segment.
    host.calls.clear();
    const Point ab = pointOf(e, decoder::kAbMs - 1);
    e.mouseDown(ab.x + 150, ab.y, 0, 1);
    EXPECT_EQ(host.oneGesture(8), std::vector<double>{1.0});
    // A click on what is already chosen, or on nothing, tells the host nothing.
    host.calls.clear();
    e.mouseDown(ab.x + 150, ab.y, 0, 1);
    e.mouseDown(2, 2, 0, 1);
    EXPECT_TRUE(host.calls.empty());
}

TEST(EditorInteraction, AHostChangeMovesTheControl) {
    Recorder host;
    editor::Editor e(host);
    const editor::Canvas before = e.draw();
    e.setValue(decoder::kStereoWidth - 1, -120);
    EXPECT_EQ(e.value(3), -120);
    const editor::Canvas after = e.draw();
    EXPECT_NE(before.pixels(), after.pixels());
    e.setValue(3, 1e9);  // held at the range's end
    EXPECT_EQ(e.value(3), 120);
    EXPECT_TRUE(host.calls.empty());  // a host's change is no edit
}

// An idle editor is not drawn again: only a value or a meter that moved asks for a picture.
TEST(EditorInteraction, OnlyAChangeAsksForAPicture) {
    Recorder host;
    editor::Editor e(host);
    editor::MeterFeed feed;
    feed.setActive(true);
    EXPECT_FALSE(e.takeMeters(feed, 0.03));  // silence, and nothing shown yet
    EXPECT_FALSE(e.setValue(3, 0.0));        // the value it already shows
    EXPECT_TRUE(e.setValue(3, 12.0));
    std::vector<float> tone(512);
    for (std::size_t j = 0; j < tone.size(); ++j) tone[j] = 0.5f * static_cast<float>(std::sin(0.05 * j));
    const float* channels[3] = {tone.data(), tone.data(), tone.data()};
    feed.afterBlock(channels, 512);
    EXPECT_TRUE(e.takeMeters(feed, 0.03));
    // The levels fall, the held peaks let go and the points fade while nothing comes; after
    // twenty seconds all is still again.
    EXPECT_TRUE(e.takeMeters(feed, 0.5));
    for (int i = 0; i < 40; ++i) e.takeMeters(feed, 0.5);
    for (int i = 0; i < 5; ++i) EXPECT_FALSE(e.takeMeters(feed, 0.5)) << i;
    EXPECT_EQ(e.meters().snapshot().channels[3].rmsDb, -INFINITY);
    // A host that plays silence (a transport running over an empty track) is still too.
    const std::vector<float> silence(512, 0.0f);
    const float* quiet[3] = {silence.data(), silence.data(), silence.data()};
    for (int i = 0; i < 5; ++i) {
        feed.afterBlock(quiet, 512);
        EXPECT_FALSE(e.takeMeters(feed, 0.03)) << i;
    }
    // The host's tone match: a new curve (a state loaded) is drawn once; the bypass, which the
    // editor does not show, never asks for a picture.
    EXPECT_FALSE(e.followToneCurve());
    host.curve.db[10] = 4.5, host.curve.held[10] = false;
    EXPECT_TRUE(e.followToneCurve());
    EXPECT_FALSE(e.followToneCurve());
    EXPECT_EQ(e.toneCurve().db[10], 4.5);
    EXPECT_FALSE(e.setValue(vintrel::kBypass, 1.0));
    EXPECT_TRUE(e.setValue(vintrel::kDiMatch, 55.0));
}

// The canvas's round shapes cover each pixel by its centre's signed distance to the edge,
// whatever shortcut finds a pixel wholly in or out: shapes at random fractional places, sizes
// and radii, opaque and translucent, against that distance worked out for every pixel.
TEST(EditorCanvas, RoundShapesCoverEachPixelByItsCentresDistanceToTheEdge) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> place(-6.0, 70.0), size(0.0, 40.0), corner(0.0, 12.0);
    const int width = 64, height = 48;
    for (int shape = 0; shape < 400; ++shape) {
        editor::Canvas drawn(width, height, {10, 20, 30}), want(width, height, {10, 20, 30});
        const editor::Color c{200, 150, 100, static_cast<std::uint8_t>(shape % 3 == 0 ? 128 : 255)};
        const double x = place(random), y = place(random), w = size(random), h = size(random);
        const double r = std::min({corner(random), w / 2, h / 2}), round = size(random) / 2, thick = corner(random) / 4;
        std::function<double(double, double)> distance;
        switch (shape % 3) {
            case 0:
            case 1:
                drawn.fillRoundRect(x, y, w, h, r, c);
                distance = [=](double px, double py) {
                    const double qx = std::fabs(px - (x + w / 2)) - (w / 2 - r), qy = std::fabs(py - (y + h / 2)) - (h / 2 - r);
                    return std::hypot(std::max(qx, 0.0), std::max(qy, 0.0)) + std::min(std::max(qx, qy), 0.0) - r;
                };
                break;
            default:
                if (shape % 2 == 0) {
                    drawn.fillCircle(x, y, round, c);
                    distance = [=](double px, double py) { return std::hypot(px - x, py - y) - round; };
                } else {
                    drawn.ring(x, y, round, thick, c);
                    distance = [=](double px, double py) { return std::fabs(std::hypot(px - x, py - y) - round) - thick / 2; };
                }
        }
        for (int py = 0; py < height; ++py)
            for (int px = 0; px < width; ++px) want.blend(px, py, c, std::clamp(0.5 - distance(px + 0.5, py + 0.5), 0.0, 1.0));
        ASSERT_EQ(drawn.pixels(), want.pixels()) << "shape " << shape << " at " << x << ", " << y;
    }
}

// A point inside one of the editor's buttons, found by asking the editor.
Point buttonPoint(const editor::Editor& e, editor::Button button) {
    for (int y = 0; y < e.height(); y += 2)
        for (int x = 0; x < e.width(); x += 2)
            if (e.buttonAt(x + 6, y + 6) == button) return {x + 6.0, y + 6.0};
    ADD_FAILURE() << "no such button";
    return {0, 0};
}

// A take played through the feed in blocks, the editor's timer pumping the measurement after
// each, until it answers or `seconds` of the take have played.
void play(editor::Editor& e, editor::MeterFeed& feed, const std::vector<float>& interleaved, std::size_t block,
          double rate, double seconds = 1e9) {
    feed.setActive(true);
    const std::size_t frames = std::min(interleaved.size() / 3, static_cast<std::size_t>(seconds * rate));
    std::vector<float> channels[3];
    for (auto& c : channels) c.resize(block);
    for (std::size_t at = 0; at < frames; at += block) {
        const std::size_t n = std::min(block, frames - at);
        for (std::size_t j = 0; j < n; ++j)
            for (int c = 0; c < 3; ++c) channels[c][j] = interleaved[3 * (at + j) + static_cast<std::size_t>(c)];
        const float* in[] = {channels[0].data(), channels[1].data(), channels[2].data()};
        feed.beforeBlock(in, static_cast<std::int32_t>(n));
        e.pumpMeasurement();
        if (e.measurement().state() != editor::DiMeasurement::State::Measuring) return;
    }
}

// Mid, side and a DI that shares nothing with them.
std::vector<float> unrelatedTake(int rate, double seconds) {
    std::vector<float> take = synthetic::take(rate, seconds, 0);
    synthetic::Noise noise(77);
    for (std::size_t j = 2; j < take.size(); j += 3) take[j] = static_cast<float>(0.5 * noise());
    return take;
}

TEST(EditorMeasurement, MeasureFindsTheDiAndApplyIsOneGesturePerControl) {
    Recorder host;
    editor::MeterFeed feed;
    feed.diInputs.setSampleRate(48000);
    editor::Editor e(host, &feed);
    // Before a result APPLY does nothing, and nothing is copied while no measurement asks.
    const Point apply = buttonPoint(e, editor::Button::Apply), measure = buttonPoint(e, editor::Button::Measure);
    EXPECT_FALSE(e.mouseDown(apply.x, apply.y, 0, 1));
    EXPECT_FALSE(feed.diInputs.armed());
    EXPECT_TRUE(e.mouseDown(measure.x, measure.y, 0, 1));
    e.mouseUp(measure.x, measure.y);
    EXPECT_TRUE(feed.diInputs.armed());
    // A second of silence first: skipped, not counted.
    std::vector<float> take(3 * 48000, 0.0f);
    const std::vector<float> playing = synthetic::take(48000, 4.0, 72.6, -1.0);
    take.insert(take.end(), playing.begin(), playing.end());
    play(e, feed, take, 256, 48000, 2.5);
    EXPECT_EQ(e.measurement().state(), editor::DiMeasurement::State::Measuring);
    EXPECT_NEAR(e.measurement().secondsHeard(), 1.5, 0.05);
    play(e, feed, std::vector<float>(take.begin() + 3 * 120000, take.end()), 256, 48000);
    // Past three seconds it shows its figure as it settles, and goes on until stopped.
    ASSERT_EQ(e.measurement().state(), editor::DiMeasurement::State::Measuring);
    ASSERT_TRUE(e.measurement().canApply());
    EXPECT_GT(e.measurement().secondsHeard(), 3.9);
    EXPECT_LT(e.measurement().settledWithin(), 0.05);
    EXPECT_EQ(e.measurement().headline().find("72.6"), 0u) << e.measurement().headline();
    EXPECT_NE(e.measurement().headline().find(" samples, settled within 0.0"), std::string::npos) << e.measurement().headline();
    EXPECT_NE(e.measurement().headline().find(" over 4.0 s of playing"), std::string::npos) << e.measurement().headline();
    EXPECT_TRUE(feed.diInputs.armed());
    EXPECT_TRUE(e.mouseDown(measure.x, measure.y, 0, 1));  // MEASURE again: the answer over all heard
    ASSERT_EQ(e.measurement().state(), editor::DiMeasurement::State::Found);
    EXPECT_FALSE(feed.diInputs.armed());
    EXPECT_NEAR(e.measurement().mid().delaySamples, 72.6, 0.05);
    EXPECT_TRUE(e.measurement().inverted());
    EXPECT_EQ(e.measurement().headline().rfind("DI leads the mid microphone by 1.51 ms (72.6 samples at 48 kHz), inverted polarity", 0), 0u)
        << e.measurement().headline();
    EXPECT_TRUE(host.calls.empty());

    // APPLY: one step of the host's, the gestures of delay, polarity and (off until now) the
    // match overlapping, the curve set inside them. The delay lines up the DI as matched.
    EXPECT_TRUE(e.mouseDown(apply.x, apply.y, 0, 1));
    e.mouseUp(apply.x, apply.y);
    ASSERT_TRUE(e.measurement().curve().learned());
    ASSERT_EQ(host.calls.size(), 12u);
    const double ms = vintrel::onDelayGrid(e.measurement().matchedMid(1.0).delaySamples / 48.0);
    const char kinds[] = "sbbbcpppeeeS";
    const int parameters[] = {-1, 11, 12, 14, -1, 11, 12, 14, 11, 12, 14, -1};
    for (std::size_t i = 0; i < 12; ++i) {
        EXPECT_EQ(host.calls[i].kind, kinds[i]) << i;
        EXPECT_EQ(host.calls[i].parameter, parameters[i]) << i;
    }
    EXPECT_EQ(host.calls[5].value, ms);
    EXPECT_NEAR(ms, 72.6 / 48.0, 0.02);  // the matched DI's place, near the unmatched one's
    EXPECT_EQ(host.calls[6].value, 1.0);
    EXPECT_EQ(host.calls[7].value, 100.0);
    EXPECT_EQ(host.curve.db, e.measurement().curve().db);
    EXPECT_EQ(e.value(vintrel::kDiDelay), ms);
    EXPECT_EQ(e.toneCurve().db, host.curve.db);
    // Again with the match at 40 %: it stays there, and the delay is the one for 40 % of it.
    e.setValue(vintrel::kDiMatch, 40);
    host.calls.clear();
    EXPECT_TRUE(e.mouseDown(apply.x, apply.y, 0, 1));
    for (const auto& c : host.calls) EXPECT_NE(c.parameter, vintrel::kDiMatch);
    EXPECT_EQ(e.value(vintrel::kDiDelay), vintrel::onDelayGrid(e.measurement().matchedMid(0.4).delaySamples / 48.0));
}

// A silent mid microphone is refused as a silent DI is; a take that stops (two seconds of
// silence) ends a measurement that has its figure, with the answer over all it heard; MEASURE
// pressed again before three seconds of playing ends it with nothing.
TEST(EditorMeasurement, ASilentMidIsRefusedAndTheTakesStopEndsIt) {
    editor::MeterFeed feed;
    feed.diInputs.setSampleRate(44100);
    Recorder host;
    editor::Editor e(host, &feed);
    const Point measure = buttonPoint(e, editor::Button::Measure);
    std::vector<float> take = synthetic::take(44100, 3.5, 20.5);
    for (std::size_t j = 0; j < take.size(); j += 3) take[j] = 0.0f;
    e.mouseDown(measure.x, measure.y, 0, 1);
    play(e, feed, take, 512, 44100);
    ASSERT_EQ(e.measurement().state(), editor::DiMeasurement::State::Refused);
    EXPECT_EQ(e.measurement().headline(), "The mid microphone is silent while the DI plays: there is nothing to align.");

    e.mouseDown(measure.x, measure.y, 0, 1);
    play(e, feed, synthetic::take(44100, 2.0, 20.5), 512, 44100);
    e.mouseDown(measure.x, measure.y, 0, 1);
    EXPECT_EQ(e.measurement().state(), editor::DiMeasurement::State::Idle) << "stopped before a figure";

    e.mouseDown(measure.x, measure.y, 0, 1);
    take = synthetic::take(44100, 3.5, 20.5);
    take.resize(take.size() + 3 * 44100 * 3, 0.0f);  // then the transport stops: silence
    play(e, feed, take, 512, 44100);
    ASSERT_EQ(e.measurement().state(), editor::DiMeasurement::State::Found);
    EXPECT_NEAR(e.measurement().mid().delaySamples, 20.5, 0.05);
    EXPECT_NE(e.measurement().headline().find("(20.5 samples at 44.1 kHz)"), std::string::npos) << e.measurement().headline();
    EXPECT_TRUE(host.calls.empty());
}

TEST(EditorMeasurement, UnrelatedOrSilentDisAreRefusedAndTheControlsKept) {
    for (const bool silent : {false, true}) {
        SCOPED_TRACE(silent ? "silent DI" : "unrelated DI");
        Recorder host;
        editor::MeterFeed feed;
        feed.diInputs.setSampleRate(48000);
        editor::Editor e(host, &feed);
        e.setValue(vintrel::kDiDelay, 0.75);
        std::vector<float> take = unrelatedTake(48000, 4.0);
        // A silent DI is never counted, and refused in words once the mid has played for as long
        // as a figure needs; an unrelated one gives no reliable figure, and stopped, no answer.
        if (silent)
            for (std::size_t j = 2; j < take.size(); j += 3) take[j] = 0.0f;
        const Point measure = buttonPoint(e, editor::Button::Measure), apply = buttonPoint(e, editor::Button::Apply);
        e.mouseDown(measure.x, measure.y, 0, 1);
        play(e, feed, take, 512, 48000);
        if (silent) {
            ASSERT_EQ(e.measurement().state(), editor::DiMeasurement::State::Refused);
            EXPECT_EQ(e.measurement().secondsHeard(), 0.0);
            EXPECT_EQ(e.measurement().headline(), "The DI is silent while the mid microphone plays: there is nothing to align.");
            EXPECT_FALSE(feed.diInputs.armed());
        } else {
            ASSERT_EQ(e.measurement().state(), editor::DiMeasurement::State::Measuring);
            EXPECT_FALSE(e.measurement().canApply());
            EXPECT_EQ(e.measurement().headline().rfind("Measuring: no reliable estimate yet", 0), 0u) << e.measurement().headline();
            e.mouseDown(measure.x, measure.y, 0, 1);  // stopped by a second press
            ASSERT_EQ(e.measurement().state(), editor::DiMeasurement::State::Refused);
            EXPECT_EQ(e.measurement().headline().rfind("No reliable estimate", 0), 0u) << e.measurement().headline();
        }
        EXPECT_FALSE(e.mouseDown(apply.x, apply.y, 0, 1));
        EXPECT_TRUE(host.calls.empty());
        EXPECT_EQ(e.value(vintrel::kDiDelay), 0.75);
    }
}

// The preset bar: a preset from the menu is one host step (every changed control's gesture
// opened, their values, all closed); the name shows until an edit, then "modified"; the
// arrows step through the presets; a click beside an open menu closes it and changes nothing.
TEST(EditorPresets, ChoosingIsOneHostStepAndAnEditMakesItModified) {
    Recorder host;
    editor::Editor e(host);
    EXPECT_EQ(e.presetShown(), 0);  // the defaults are "Neutral"
    const Point menu = buttonPoint(e, editor::Button::PresetMenu);
    ASSERT_TRUE(e.mouseDown(menu.x, menu.y, 0, 1));
    EXPECT_TRUE(e.presetMenuOpen());
    // "DI on its own track (output 3)", the fifth row: DI level and routing change.
    const double rowY = 52 + 4 + 24 * 4 + 12;  // the menu below the name, rows of 24, at scale 1
    ASSERT_TRUE(e.mouseDown(menu.x, rowY, 0, 1));
    EXPECT_FALSE(e.presetMenuOpen());
    ASSERT_EQ(host.calls.size(), 6u);
    const char kinds[] = "bbppee";
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(host.calls[i].kind, kinds[i]) << i;
        EXPECT_EQ(host.calls[i].parameter, i % 2 == 0 ? 5 : 7) << i;
    }
    EXPECT_EQ(host.calls[2].value, 0.0);
    EXPECT_EQ(host.calls[3].value, 1.0);
    EXPECT_EQ(e.presetShown(), 4);

    // An edit: "modified"; the arrows go on from the preset chosen last.
    host.calls.clear();
    const Point width = pointOf(e, 3);
    e.wheel(width.x, width.y, 1, 0);
    EXPECT_EQ(e.presetShown(), -1);
    const Point next = buttonPoint(e, editor::Button::PresetNext), previous = buttonPoint(e, editor::Button::PresetPrevious);
    e.mouseDown(next.x, next.y, 0, 1);
    EXPECT_EQ(e.presetShown(), 5);  // "Plain mid/side (A/B)"
    e.mouseDown(previous.x, previous.y, 0, 1);
    e.mouseDown(previous.x, previous.y, 0, 1);
    EXPECT_EQ(e.presetShown(), 3);  // "DI under the mics"
    EXPECT_EQ(e.value(5), -12.0);

    // A measured alignment goes with a preset's state, as a host loading it sets it.
    e.setValue(vintrel::kDiDelay, 1.5);
    EXPECT_EQ(e.presetShown(), -1);
    host.calls.clear();
    e.choosePreset(3);
    ASSERT_EQ(host.calls.size(), 3u);
    EXPECT_EQ(host.calls[0].parameter, vintrel::kDiDelay);
    EXPECT_EQ(e.presetShown(), 3);

    host.calls.clear();
    e.mouseDown(menu.x, menu.y, 0, 1);
    EXPECT_TRUE(e.mouseDown(900, 600, 0, 1));  // beside the menu
    EXPECT_FALSE(e.presetMenuOpen());
    EXPECT_TRUE(host.calls.empty());
}

// The level taper: the two -150 .. +12 dB knobs at the stated marks of their travel, and a drag
// that moves along it; the other knobs straight, the trims with 0 dB at the centre.
// A double click on a knob's value opens the field; keys make the text; Enter sets what the
// hosts' text rule (valueFor) gives for it, as one gesture, and closes the field.
TEST(EditorTyping, TypedNumbersUnitsAndLabelsAreOneGestureOfTheHostsValue) {
    struct Case {
        int parameter;
        const char* text;
    };
    const Case cases[] = {
        {0, "-3.5"}, {0, "-3.5 dB"}, {0, " -3.5db "}, {5, "-150"}, {5, "+20 dB"}, {3, "150"},  // beyond: held
        {3, "-40.25"}, {6, "-120"}, {11, "1.5 ms"}, {11, "-0.25"},
        {4, "swapped"}, {4, "SWAPPED"}, {9, "di only"}, {8, "Unprocessed"}, {12, "1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " for parameter " + std::to_string(c.parameter));
        Recorder host;
        editor::Editor e(host);
        const double before = e.value(c.parameter);
        e.openField(c.parameter);
        ASSERT_TRUE(e.typing());
        for (const char* k = c.text; *k != '\0'; ++k) EXPECT_TRUE(e.keyDown(editor::Key::Character, *k));
        EXPECT_EQ(e.fieldText(), c.text) << "the first key replaces the value shown";
        EXPECT_TRUE(host.calls.empty()) << "nothing is set before Enter";
        EXPECT_TRUE(e.keyDown(editor::Key::Enter));
        EXPECT_FALSE(e.typing());
        double want = 0;
        std::string trimmed = c.text;
        trimmed = trimmed.substr(trimmed.find_first_not_of(' '));
        trimmed = trimmed.substr(0, trimmed.find_last_not_of(' ') + 1);
        ASSERT_TRUE(vintrel::EmbeddedDecoder::valueFor(c.parameter, trimmed.c_str(), want));
        const auto& row = vintrel::kPluginParameters[static_cast<std::size_t>(c.parameter)];
        want = std::clamp(want, row.min, row.max);
        if (want == before) {
            EXPECT_TRUE(host.calls.empty()) << "the value it has: no gesture";
            continue;
        }
        const std::vector<double> values = host.oneGesture(c.parameter);
        ASSERT_EQ(values.size(), 1u);
        // On the grid the host's sets quantise to: within half a step of the text's value.
        EXPECT_NEAR(values[0], want, (c.parameter == vintrel::kDiDelay ? 1.0 / 96 : row.step) / 2 + 1e-9);
        EXPECT_EQ(e.value(c.parameter), values[0]);
    }
}

TEST(EditorTyping, TextThatIsNoValueIsRefusedEscapeAndAClickElsewhereCancel) {
    Recorder host;
    editor::Editor e(host);
    const Point value = pointOf(e, 0, 0.88);  // the text under the first knob
    EXPECT_FALSE(e.mouseDown(value.x, value.y, 0, 1)) << "one click on the text starts nothing";
    e.mouseUp(value.x, value.y);
    EXPECT_TRUE(e.mouseDown(value.x, value.y, 0, 2));
    ASSERT_TRUE(e.typing());
    EXPECT_EQ(e.fieldText(), "0.00 dB") << "the value as shown";
    for (const char* text : {"abc", "-3.5 dBx", "", "3 %", "-"}) {
        SCOPED_TRACE(text);
        e.keyDown(editor::Key::Backspace);
        while (!e.fieldText().empty()) e.keyDown(editor::Key::Backspace);
        for (const char* k = text; *k != '\0'; ++k) e.keyDown(editor::Key::Character, *k);
        EXPECT_TRUE(e.keyDown(editor::Key::Enter));
        EXPECT_TRUE(e.typing()) << "the field stays open";
        EXPECT_TRUE(e.fieldRefused());
        EXPECT_EQ(e.fieldText(), text) << "with the text, to be mended";
        EXPECT_TRUE(host.calls.empty());
    }
    e.keyDown(editor::Key::Character, '1');
    EXPECT_FALSE(e.fieldRefused()) << "a key starts afresh";
    EXPECT_TRUE(e.keyDown(editor::Key::Escape));
    EXPECT_FALSE(e.typing());
    EXPECT_FALSE(e.keyDown(editor::Key::Character, ' ')) << "no field: the key is the host's";
    EXPECT_FALSE(e.keyDown(editor::Key::Enter));

    const double width = e.value(3);
    e.openField(3);
    e.keyDown(editor::Key::Character, '5');
    const Point elsewhere = pointOf(e, 5);
    EXPECT_TRUE(e.mouseDown(elsewhere.x, elsewhere.y, 0, 1)) << "a click elsewhere closes the field";
    EXPECT_FALSE(e.typing());
    e.mouseUp(elsewhere.x, elsewhere.y);
    EXPECT_TRUE(host.calls.empty()) << "and sets nothing, nor starts a drag";
    EXPECT_EQ(e.value(3), width);

    const Point knob = pointOf(e, 0, 0.45);
    e.mouseDown(knob.x, knob.y, 0, 1), e.mouseUp(knob.x, knob.y);
    e.setValue(0, -6);
    host.calls.clear();
    e.mouseDown(knob.x, knob.y, 0, 2);
    EXPECT_FALSE(e.typing()) << "a double click on the knob itself returns it to its default";
    EXPECT_EQ(host.oneGesture(0), std::vector<double>{0.0});
}

// The host's menu where it has one; the editor's own where not, whose items set the default or
// open the field. A right click never changes a value by itself.
TEST(EditorMenu, ARightClickShowsTheHostsMenuOrTheEditorsOwn) {
    struct MenuHost : Recorder {
        bool hostHasMenu = false;
        std::vector<int> asked;
        bool showHostMenu(int parameter, double, double) override { return asked.push_back(parameter), hostHasMenu; }
    };
    MenuHost host;
    editor::Editor e(host);
    const double defaultLevel = vintrel::kPluginParameters[6].defaultValue;
    e.setValue(6, -20);
    const Point level = pointOf(e, 6);
    host.hostHasMenu = true;
    e.rightClick(level.x, level.y);
    EXPECT_EQ(host.asked, std::vector<int>{6});
    EXPECT_EQ(e.menuParameter(), -1) << "the host showed its own";
    EXPECT_FALSE(e.rightClick(5, 700)) << "nowhere near a control: no menu";
    EXPECT_EQ(host.asked.size(), 1u);

    host.hostHasMenu = false;
    EXPECT_TRUE(e.rightClick(level.x, level.y));
    EXPECT_EQ(e.menuParameter(), 6);
    EXPECT_TRUE(host.calls.empty());
    // Its rows: "Default" first, "Type a value" below, from where the click was.
    EXPECT_TRUE(e.mouseDown(level.x + 20, level.y + 4 + 12, 0, 1));
    EXPECT_EQ(e.menuParameter(), -1);
    EXPECT_EQ(host.oneGesture(6), std::vector<double>{defaultLevel});
    host.calls.clear();
    e.rightClick(level.x, level.y);
    e.mouseDown(level.x + 20, level.y + 4 + 24 + 12, 0, 1);
    EXPECT_TRUE(e.typing());
    EXPECT_TRUE(host.calls.empty());
    e.keyDown(editor::Key::Escape);
    e.rightClick(level.x, level.y);
    EXPECT_TRUE(e.mouseDown(600, 700, 0, 1)) << "a click beside the menu closes it";
    EXPECT_EQ(e.menuParameter(), -1);
    EXPECT_TRUE(host.calls.empty());
    EXPECT_EQ(e.value(6), defaultLevel);
}

TEST(EditorTaper, LevelKnobsSpendTheirTravelWhereLevelsAreSet) {
    for (const int level : {2, 5})
        for (const auto& [db, travel] : {std::pair{-150.0, 0.0}, {-40.0, 0.25}, {-12.0, 0.6}, {0.0, 0.75}, {12.0, 1.0}}) {
            EXPECT_NEAR(editor::knobTravel(level, db), travel, 1e-12) << level << " at " << db;
            EXPECT_NEAR(editor::valueAtTravel(level, travel), db, 1e-9) << level << " at " << travel;
        }
    EXPECT_NEAR(editor::knobTravel(0, 0.0), 0.5, 1e-12);   // mid trim: 0 dB at the centre
    EXPECT_NEAR(editor::knobTravel(10, -5.0), 0.25, 1e-12);  // main output trim, straight
    EXPECT_NEAR(editor::knobTravel(3, 60.0), 0.75, 1e-12);   // width, straight

    // A drag of the DI level from its bottom, 30 units up: a tenth of the travel, -106 dB; then
    // on to three quarters, 0 dB. The host hears grid values, one gesture.
    Recorder host;
    editor::Editor e(host);
    const Point knob = pointOf(e, 5);
    e.mouseDown(knob.x, knob.y, 0, 1);
    e.mouseMove(knob.x, knob.y - 30, 0);
    EXPECT_EQ(e.value(5), -106.0);
    e.mouseMove(knob.x, knob.y - 225, 0);
    EXPECT_EQ(e.value(5), 0.0);
    e.mouseUp(knob.x, knob.y - 225);
    const std::vector<double> values = host.oneGesture(5);
    ASSERT_FALSE(values.empty());
    EXPECT_EQ(values.back(), 0.0);
    for (double v : values) EXPECT_TRUE(onGrid(5, v)) << v;
}

// The stored pictures.
struct State {
    const char* name;
    std::function<void(editor::Editor&, editor::MeterFeed&)> set;
    int width = 0, height = 0;  // a window of this size, or the scale's own
};

void meterFeed(editor::Editor& e, editor::MeterFeed& feed, float amplitude) {
    std::vector<float> left(4800), right(4800), di(4800);
    for (std::size_t j = 0; j < left.size(); ++j) {
        left[j] = amplitude * static_cast<float>(std::sin(0.031 * j));
        right[j] = amplitude * 0.5f * static_cast<float>(std::sin(0.031 * j + 0.9));
        di[j] = amplitude * 0.25f * static_cast<float>(std::sin(0.017 * j));
    }
    const float* channels[3] = {left.data(), right.data(), di.data()};
    feed.setActive(true);
    feed.measure(0, channels, 4800);
    feed.measure(3, channels, 4800);
    feed.pushPoints(left.data(), right.data(), 4800);
    e.takeMeters(feed, 0.1);
}

// The renderer's demo take, as a user's first one: written, then read back.
std::vector<float> demoTake() {
    const std::string path = testing::TempDir() + "editor-demo-take.wav";
    std::string error;
    EXPECT_TRUE(vstrender::writeDemoTake(path, 48000, 8.0, error)) << error;
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    std::vector<float> take(static_cast<std::size_t>(info.frames * info.channels));
    if (file != nullptr) sf_readf_float(file, take.data(), info.frames), sf_close(file);
    std::remove(path.c_str());
    return take;
}

void startMeasuring(editor::Editor& e) {
    const Point measure = buttonPoint(e, editor::Button::Measure);
    e.mouseDown(measure.x, measure.y, 0, 1);
}

const State kStates[] = {
    {"defaults", [](editor::Editor&, editor::MeterFeed&) {}},
    {"switches-other", [](editor::Editor& e, editor::MeterFeed&) {
         e.setValue(4, 1), e.setValue(7, 1), e.setValue(8, 1), e.setValue(9, 2), e.setValue(12, 1);
     }},
    {"minimums", [](editor::Editor& e, editor::MeterFeed&) {
         for (int i = 0; i < editor::kParameters; ++i) e.setValue(i, vintrel::kPluginParameters[static_cast<std::size_t>(i)].min);
     }},
    {"maximums", [](editor::Editor& e, editor::MeterFeed&) {
         for (int i = 0; i < editor::kParameters; ++i) e.setValue(i, vintrel::kPluginParameters[static_cast<std::size_t>(i)].max);
         e.setValue(9, 1);
     }},
    {"signal-20dbfs", [](editor::Editor& e, editor::MeterFeed& feed) { meterFeed(e, feed, 0.1f); }},
    {"signal-over", [](editor::Editor& e, editor::MeterFeed& feed) { meterFeed(e, feed, 1.6f); }},
    {"measuring", [](editor::Editor& e, editor::MeterFeed& feed) {
         startMeasuring(e);
         play(e, feed, synthetic::take(48000, 4.0, 72.6), 512, 48000, 1.2);
     }},
    // Past three seconds of playing: the figure as it settles, APPLY ready; then stopped.
    {"measure-settling", [](editor::Editor& e, editor::MeterFeed& feed) {
         startMeasuring(e);
         play(e, feed, synthetic::take(48000, 4.0, 72.6), 512, 48000);
     }},
    {"measured", [](editor::Editor& e, editor::MeterFeed& feed) {
         e.setValue(vintrel::kDiDelay, 1.5125);
         startMeasuring(e);
         play(e, feed, synthetic::take(48000, 4.0, 72.6), 512, 48000);
         startMeasuring(e);
     }},
    // The README's picture: a take playing, its DI measured, APPLY ready.
    {"signal-measured", [](editor::Editor& e, editor::MeterFeed& feed) {
         e.setValue(3, 30), e.setValue(5, -12), e.setValue(6, -40);
         startMeasuring(e);
         play(e, feed, synthetic::take(48000, 4.0, 72.6), 512, 48000);
         startMeasuring(e);
         for (int i = 0; i < 100; ++i) e.takeMeters(feed, 10.0);  // what the playing measured, gone by
         meterFeed(e, feed, 0.3f);
     }},
    // A take whose microphone hears the DI through a known response: the curve MEASURE learned
    // (an outline, APPLY not yet pressed); then applied, at 100 % and turned down to 40 %.
    {"tone-measured", [](editor::Editor& e, editor::MeterFeed& feed) {
         startMeasuring(e);
         play(e, feed, tonetake::take(48000, 6.0, 72.6), 512, 48000);
         startMeasuring(e);
     }},
    {"tone-applied", [](editor::Editor& e, editor::MeterFeed& feed) {
         startMeasuring(e);
         play(e, feed, tonetake::take(48000, 6.0, 72.6), 512, 48000);
         startMeasuring(e);
         const Point apply = buttonPoint(e, editor::Button::Apply);
         e.mouseDown(apply.x, apply.y, 0, 1), e.mouseUp(apply.x, apply.y);
         e.setValue(vintrel::kDiMatch, 40);
     }},
    // The demo take's match, applied: its microphone hears the strings darker than the pickup.
    {"tone-demo", [](editor::Editor& e, editor::MeterFeed& feed) {
         startMeasuring(e);
         play(e, feed, demoTake(), 512, 48000);
         startMeasuring(e);
         const Point apply = buttonPoint(e, editor::Button::Apply);
         e.mouseDown(apply.x, apply.y, 0, 1), e.mouseUp(apply.x, apply.y);
     }},
    {"measure-refused", [](editor::Editor& e, editor::MeterFeed& feed) {
         startMeasuring(e);
         play(e, feed, unrelatedTake(48000, 4.0), 512, 48000);
         startMeasuring(e);
     }},
    {"measure-silent-di", [](editor::Editor& e, editor::MeterFeed& feed) {
         std::vector<float> take = synthetic::take(48000, 3.5, 10);
         for (std::size_t j = 2; j < take.size(); j += 3) take[j] = 0.0f;
         startMeasuring(e);
         play(e, feed, take, 512, 48000);
     }},
    // The level knobs at the taper's marks: -40 dB at a quarter, -12 dB, 0 dB at three quarters.
    {"taper-40-and-0", [](editor::Editor& e, editor::MeterFeed&) { e.setValue(2, -40), e.setValue(5, 0); }},
    {"taper-12", [](editor::Editor& e, editor::MeterFeed&) { e.setValue(2, -12), e.setValue(5, -12); }},
    // The preset bar: a preset chosen shows its name; the menu open over the controls.
    {"preset-wide", [](editor::Editor& e, editor::MeterFeed&) { e.choosePreset(1); }},
    {"preset-menu", [](editor::Editor& e, editor::MeterFeed&) {
         e.choosePreset(4);
         const Point menu = buttonPoint(e, editor::Button::PresetMenu);
         e.mouseDown(menu.x, menu.y, 0, 1);
     }},
    // Typing a value: the field open over the output trim's value with text typed; a text that
    // is no value, refused; and the editor's own menu of the DI level, where a host has none.
    {"value-typed", [](editor::Editor& e, editor::MeterFeed&) {
         e.openField(2);
         for (char c : std::string("-3.5 dB")) e.keyDown(editor::Key::Character, c);
     }},
    {"value-refused", [](editor::Editor& e, editor::MeterFeed&) {
         e.openField(5);
         for (char c : std::string("loud")) e.keyDown(editor::Key::Character, c);
         e.keyDown(editor::Key::Enter);
     }},
    {"own-menu", [](editor::Editor& e, editor::MeterFeed&) {
         const Point level = pointOf(e, 5);
         e.rightClick(level.x, level.y);
     }},
    // A host's window larger than the editor, of other proportions; and one forced below the
    // smallest size the editor offers: the layout scaled to fit, centred, never cropped.
    {"window-1500x840", [](editor::Editor& e, editor::MeterFeed& feed) { meterFeed(e, feed, 0.1f); }, 1500, 840},
    {"window-300x200", [](editor::Editor& e, editor::MeterFeed& feed) { meterFeed(e, feed, 0.1f); }, 300, 200},
};

TEST(EditorPictures, EachStateLooksAsStored) {
#if defined(VINTREL_PICTURES_ELSEWHERE)
    GTEST_SKIP() << "the stored pictures are compared on the machine that builds them";
#endif
    const bool update = std::getenv("UPDATE_EDITOR_PICTURES") != nullptr;
    for (double scale : {1.0, 2.0})
        for (const State& state : kStates) {
            if (scale == 2.0 && std::string(state.name) != "defaults" && std::string(state.name) != "signal-over") continue;
            if (state.width > 0 && scale != 1.0) continue;
            Recorder host;
            editor::MeterFeed feed;
            feed.diInputs.setSampleRate(48000);
            editor::Editor e(host, &feed);
            e.setScale(scale);
            if (state.width > 0) e.setSize(state.width, state.height);
            state.set(e, feed);
            const editor::Canvas picture = e.draw();
            const std::string file = std::string(VINTREL_EDITOR_PICTURES) + "/" + state.name + "@" +
                                     std::to_string(static_cast<int>(scale)) + "x.png";
            std::string error;
            if (update) {
                ASSERT_TRUE(vstrender::writePng(file, picture.width(), picture.height(), picture.pixels(), error)) << error;
                continue;
            }
            int width = 0, height = 0;
            std::vector<std::uint8_t> stored;
            ASSERT_TRUE(vstrender::readPng(file, width, height, stored, error)) << error;
            EXPECT_EQ(width, picture.width()) << file;
            EXPECT_EQ(height, picture.height()) << file;
            std::size_t differing = 0;
            for (std::size_t i = 0; i < stored.size() && i < picture.pixels().size(); ++i) differing += stored[i] != picture.pixels()[i];
            EXPECT_EQ(differing, 0u) << file << ": " << differing << " bytes differ";
            if (differing != 0)
                vstrender::writePng(::testing::TempDir() + state.name + "-now.png", picture.width(), picture.height(),
                                    picture.pixels(), error);
        }
}

}  // namespace
