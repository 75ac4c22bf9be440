#include "editor/editor.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <string>
#include <vector>

#include "effect/decoder_parameters.h"
#include "entry/embedded_decoder.h"
#include "entry/factory_presets.h"

namespace editor {

using namespace palette;

namespace {

// The layout, in design units (pixels at a content scale of 1).
enum class Widget { Knob, List, Segments };
struct Place {
    int parameter;
    Widget widget;
    double x, y, w, h;
};
// clang-format off
constexpr Place kPlaces[] = {
    {0, Widget::Knob,  26, 96, 90, 124},   {1, Widget::Knob, 121, 96, 90, 124},  {3, Widget::Knob, 216, 96, 90, 124},
    {4, Widget::List,  36, 262, 260, 56},
    {5, Widget::Knob, 334, 96, 80, 124},   {6, Widget::Knob, 414, 96, 80, 124},
    {7, Widget::List, 334, 262, 160, 56},
    {2, Widget::Knob, 522, 96, 80, 124},   {10, Widget::Knob, 602, 96, 80, 124},
    {9, Widget::List, 522, 262, 160, 84},
    {8, Widget::Segments, 700, 14, 284, 34},
    {11, Widget::Knob, 26, 578, 90, 124},  {12, Widget::List, 132, 612, 140, 56},
    {14, Widget::Knob, 26, 730, 90, 124},
};
struct Group {
    const char* title;
    double x, y, w, h;
};
constexpr Group kGroups[] = {
    {"MICROPHONES", 16, 64, 300, 298}, {"DI", 324, 64, 180, 298}, {"OUTPUT", 512, 64, 180, 298},
    {"VECTORSCOPE", 700, 64, 284, 484}, {"LEVELS", 16, 372, 676, 176}, {"DI ALIGNMENT", 16, 556, 968, 144},
    {"DI TONE MATCH", 16, 708, 968, 144},
};
struct ButtonPlace {
    Button button;
    const char* label;
    double x, y, w, h;
};
constexpr ButtonPlace kButtons[] = {
    {Button::Measure, "MEASURE", 296, 590, 120, 36}, {Button::Apply, "APPLY", 296, 640, 120, 36},
    {Button::PresetPrevious, "<", 352, 14, 32, 34},  {Button::PresetMenu, "", 388, 14, 226, 34},
    {Button::PresetNext, ">", 618, 14, 32, 34},
};
// The preset menu, open below the name: a row for each factory preset.
constexpr double kMenuX = 388, kMenuY = 52, kMenuWidth = 226, kMenuRow = 24;
constexpr double kWordsX = 436, kWordsWidth = 538;
// The tone match's words, and its curve: decibels against log frequency, 40 Hz to 16 kHz.
constexpr double kToneWordsX = 132, kToneWordsWidth = 280;
constexpr double kCurveX = 476, kCurveY = 722, kCurveW = 498, kCurveH = 116, kCurveDb = 18;
// clang-format on
constexpr double kScopeX = 732, kScopeY = 112, kScopeDiameter = 220;
constexpr double kMeterTop = 414, kMeterRow = 22, kBarX = 118, kBarWidth = 508, kOverX = 634, kOverWidth = 48;
constexpr double kMeterLowDb = -60, kMeterHighDb = 6;
const char* const kMeterNames[kMeteredChannels] = {"IN  MID", "IN  SIDE", "IN  DI", "OUT 1", "OUT 2", "OUT 3 (DI)"};
constexpr double kDragSpan = 300;  // design units of vertical drag over a whole range; Shift: ten times as far

const decoder::Parameter& row(int parameter) { return vintrel::kPluginParameters[static_cast<std::size_t>(parameter)]; }

// The mouse wheel's step: the grid's, but for the delay, whose grid is far finer than a hand
// turns a wheel (a hundredth of a millisecond, half a sample at 48 kHz).
double wheelStep(int parameter) { return parameter == vintrel::kDiDelay ? 0.01 : row(parameter).step; }

const Place* placeOf(int parameter) {
    for (const Place& p : kPlaces)
        if (p.parameter == parameter) return &p;
    return nullptr;
}

// A value on the row's grid, inside its range: the zero-anchored grid of the host's sets.
double onGrid(int parameter, double value) {
    const decoder::Parameter& r = row(parameter);
    if (parameter == vintrel::kDiDelay) return vintrel::onDelayGrid(std::clamp(value, r.min, r.max));
    const double snapped = std::floor(std::clamp(value, r.min, r.max) / r.step + 0.5) * r.step;
    return std::clamp(snapped, r.min, r.max);
}

std::string shownText(int parameter, double value) {
    std::string text = vintrel::EmbeddedDecoder::textFor(parameter, value);
    if (row(parameter).unit[0] != '\0') text += std::string(" ") + row(parameter).unit;
    return text;
}

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// Design units to window pixels.
struct Painter {
    Canvas& canvas;
    double zoom, left, top;
    double x(double dx) const { return left + dx * zoom; }
    double y(double dy) const { return top + dy * zoom; }
    double s(double length) const { return length * zoom; }
    void rect(double dx, double dy, double w, double h, double radius, Color c) const {
        canvas.fillRoundRect(x(dx), y(dy), s(w), s(h), s(radius), c);
    }
    void text(double dx, double dy, const std::string& t, double size, Color c, Align a = Align::Left) const {
        canvas.text(x(dx), y(dy), t, s(size), c, a);
    }
};

// The level taper's corners: travel, then decibels.
constexpr double kTaper[][2] = {{0.0, -150.0}, {0.25, -40.0}, {0.75, 0.0}, {1.0, 12.0}};

bool tapered(int parameter) {
    const decoder::Parameter& r = row(parameter);
    return r.kind == decoder::Kind::Level && r.min == kTaper[0][1] && r.max == kTaper[3][1];
}

// A knob's angle for a fraction of its range: from lower left (225 degrees) to lower right.
double knobAngle(double fraction) { return (225.0 - 270.0 * fraction) * std::numbers::pi / 180.0; }

void drawKnob(const Painter& p, const Place& at, double value) {
    const decoder::Parameter& r = row(at.parameter);
    const double cx = at.x + at.w / 2, cy = at.y + 58, radius = 26;
    // A name wider than its cell goes on two lines, split at the space nearest its middle.
    const std::string name = upper(r.name);
    if (Canvas::textWidth(name, 10) <= at.w - 6) {
        p.text(cx, at.y + 14, name, 10, kDim, Align::Centre);
    } else {
        std::size_t split = name.rfind(' ', name.size() / 2);
        if (split == std::string::npos) split = name.find(' ');
        p.text(cx, at.y + 6, name.substr(0, split), 10, kDim, Align::Centre);
        p.text(cx, at.y + 18, split == std::string::npos ? "" : name.substr(split + 1), 10, kDim, Align::Centre);
    }
    p.canvas.fillCircle(p.x(cx), p.y(cy), p.s(radius - 5), Color{40, 44, 54});
    p.canvas.arc(p.x(cx), p.y(cy), p.s(radius), p.s(5), knobAngle(1), knobAngle(0), kGrid);
    const double fraction = knobTravel(at.parameter, value);
    // Bipolar ranges light up from their zero, the others from their bottom.
    const double origin = r.min < 0 && r.max > 0 ? knobTravel(at.parameter, 0.0) : 0.0;
    const double a = knobAngle(fraction), b = knobAngle(origin);
    if (std::fabs(fraction - origin) > 1e-9) p.canvas.arc(p.x(cx), p.y(cy), p.s(radius), p.s(5), std::min(a, b), std::max(a, b), kAccent);
    p.canvas.line(p.x(cx + std::cos(a) * radius * 0.25), p.y(cy - std::sin(a) * radius * 0.25),
                  p.x(cx + std::cos(a) * radius * 0.72), p.y(cy - std::sin(a) * radius * 0.72), p.s(3), kText);
    p.text(cx, at.y + 114, shownText(at.parameter, value), 12, kText, Align::Centre);
}

void drawChoices(const Painter& p, const Place& at, double value) {
    const decoder::Parameter& r = row(at.parameter);
    const int n = r.labelCount();
    const int chosen = static_cast<int>(std::lround(value - r.min));
    if (at.widget == Widget::Segments) {
        p.text(at.x - 10, at.y + 23, "A/B", 14, kText, Align::Right);
        const double w = at.w / n;
        p.rect(at.x, at.y, at.w, at.h, 6, kPanel);
        for (int k = 0; k < n; ++k) {
            if (k == chosen) p.rect(at.x + k * w + 2, at.y + 2, w - 4, at.h - 4, 5, k == 0 ? kAccent : Color{240, 176, 64});
            p.text(at.x + k * w + w / 2, at.y + 22, upper(r.labels[static_cast<std::size_t>(k)]), 13,
                   k == chosen ? kBackground : kText, Align::Centre);
        }
        return;
    }
    p.text(at.x, at.y - 8, upper(r.name), 11, kDim);
    const double h = at.h / n;
    for (int k = 0; k < n; ++k) {
        const double cy = at.y + k * h + h / 2;
        const bool on = k == chosen;
        if (on) p.rect(at.x, at.y + k * h + 1, at.w, h - 2, 5, Color{36, 52, 66});
        p.canvas.ring(p.x(at.x + 11), p.y(cy), p.s(5.5), p.s(1.5), on ? kAccent : kDim);
        if (on) p.canvas.fillCircle(p.x(at.x + 11), p.y(cy), p.s(3), kAccent);
        p.text(at.x + 24, cy + 4.5, r.labels[static_cast<std::size_t>(k)], 12, on ? kText : kDim);
    }
}

double meterX(double db) {
    const double f = (std::clamp(db, kMeterLowDb, kMeterHighDb) - kMeterLowDb) / (kMeterHighDb - kMeterLowDb);
    return kBarX + f * kBarWidth;
}

void drawMeters(const Painter& p, const MeterSnapshot& m) {
    for (double db : {-60.0, -48.0, -36.0, -24.0, -12.0, -6.0, 0.0, 6.0}) {
        const double x = meterX(db);
        p.text(x, kMeterTop - 8, db > 0 ? "+6" : db == 0 ? "0 dB" : std::to_string(static_cast<int>(db)), 10,
               db == 0 ? kText : kDim, Align::Centre);
    }
    for (int k = 0; k < kMeteredChannels; ++k) {
        const ChannelLevels& c = m.channels[static_cast<std::size_t>(k)];
        const double y = kMeterTop + k * kMeterRow + (k >= 3 ? 6 : 0);
        p.text(26, y + 13, kMeterNames[k], 11, kDim);
        p.rect(kBarX, y + 2, kBarWidth, kMeterRow - 6, 3, kPanel);
        const double zero = meterX(0.0);
        if (std::isfinite(c.rmsDb) && c.rmsDb > kMeterLowDb)
            p.rect(kBarX, y + 2, meterX(c.rmsDb) - kBarX, kMeterRow - 6, 3, c.rmsDb > 0 ? kOver : kPoints);
        if (std::isfinite(c.peakDb) && c.peakDb > kMeterLowDb)
            p.rect(meterX(c.peakDb) - 2, y + 2, 3, kMeterRow - 6, 1, c.peakDb > 0 ? kOver : kText);
        if (std::isfinite(c.holdDb) && c.holdDb > kMeterLowDb)
            p.rect(meterX(c.holdDb) - 1, y, 2, kMeterRow - 2, 1, c.holdDb > 0 ? kOver : kAccent);
        p.canvas.line(p.x(zero), p.y(y + 1), p.x(zero), p.y(y + kMeterRow - 3), p.s(1), kGrid);
        p.rect(kOverX, y + 2, kOverWidth, kMeterRow - 6, 3, c.over ? kOver : kPanel);
        p.text(kOverX + kOverWidth / 2, y + 13, "OVER", 9, c.over ? kText : kGrid, Align::Centre);
    }
}

void drawScopePanel(const Painter& p, const ScopeData& scope) {
    const double rim = std::max(rimDb(scope.peakRadius()), -24.0);
    ScopeStyle style;
    style.unit = p.zoom * 0.8;
    drawScope(p.canvas, p.x(kScopeX), p.y(kScopeY), p.s(kScopeDiameter), scope, rim, style);
    drawCorrelation(p.canvas, p.x(kScopeX), p.y(kScopeY + kScopeDiameter + 44), p.s(kScopeDiameter),
                    scope.correlation(), style);
    p.text(kScopeX + kScopeDiameter / 2, kScopeY + kScopeDiameter + 124,
           "PEAK L " + dbText(toDb(scope.peakLeft())) + "  R " + dbText(toDb(scope.peakRight())) + " DBFS", 11, kDim,
           Align::Centre);
}

// Words over as many lines as they need within a width, broken between words.
std::vector<std::string> wrapped(const std::string& text, double size, double width) {
    std::vector<std::string> lines;
    std::string line;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t space = text.find(' ', at);
        const std::string word = text.substr(at, space == std::string::npos ? std::string::npos : space - at);
        const std::string longer = line.empty() ? word : line + " " + word;
        if (!line.empty() && Canvas::textWidth(longer, size) > width) {
            lines.push_back(line);
            line = word;
        } else {
            line = longer;
        }
        at = space == std::string::npos ? text.size() : space + 1;
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

void drawAlignment(const Painter& p, const DiMeasurement& m) {
    for (const ButtonPlace& b : kButtons) {
        if (b.button != Button::Measure && b.button != Button::Apply) continue;
        const bool lit = b.button == Button::Measure && m.state() == DiMeasurement::State::Measuring;
        const bool enabled = b.button == Button::Measure || m.canApply();
        p.rect(b.x, b.y, b.w, b.h, 6, lit ? kAccent : enabled ? Color{44, 52, 64} : kPanel);
        p.text(b.x + b.w / 2, b.y + b.h / 2 + 5, b.label, 13, lit ? kBackground : enabled ? kText : kGrid, Align::Centre);
    }
    const Color headline = m.state() == DiMeasurement::State::Refused ? kOver : m.canApply() ? kAccent : kText;
    double y = 604;
    for (const std::string& line : wrapped(m.headline(), 13, kWordsWidth)) {
        p.text(kWordsX, y, line, 13, headline);
        y += 20;
    }
    y += 6;
    for (const std::string& line : wrapped(m.detail(), 11, kWordsWidth)) {
        p.text(kWordsX, y, line, 11, kDim);
        y += 17;
    }
}

std::string numberText(const char* pattern, double v) {
    char text[128];
    std::snprintf(text, sizeof text, pattern, v);
    return text;
}

// The tone match in words: what the plug-in holds, and what APPLY would set.
std::vector<std::string> toneWords(const align::ToneCurve& held, double amount, const DiMeasurement& m) {
    std::vector<std::string> out;
    if (!held.learned())
        out.push_back("No match learned: MEASURE learns the DI's tone from the take with its delay, APPLY sets it.");
    else
        out.push_back(numberText("The DI given the mid microphone's tone, at %.0f %%. Grey: held, the two share too little there.", amount));
    if (m.canApply())
        out.push_back(m.curve().learned()
                          ? numberText("MEASURE's curve (outline): APPLY sets it, with the DI delay that lines the matched DI up, "
                                       "%.2f samples.", m.matchedMid(1.0).delaySamples)
                          : "This take's DI and mid share too little to say: APPLY sets no match (flat).");
    return out;
}

// A curve over the plot: a frequency (log) and a level to design units.
double curveX(double hz) {
    return kCurveX + kCurveW * std::log2(hz / align::kMatchLowestHz) / ((align::kMatchPoints - 1) / 6.0);
}
double curveX(int k) { return kCurveX + kCurveW * k / (align::kMatchPoints - 1.0); }
double curveY(double db) { return kCurveY + kCurveH / 2 - std::clamp(db, -kCurveDb, kCurveDb) / kCurveDb * (kCurveH / 2); }

void drawCurve(const Painter& p, const align::ToneCurve& curve, double scale, double thickness, bool outline) {
    for (int k = 0; k + 1 < align::kMatchPoints; ++k) {
        const auto a = static_cast<std::size_t>(k), b = a + 1;
        const bool held = curve.held[a] || curve.held[b];
        const Color c = outline ? kText : held ? kDim : kAccent;
        if (outline && k % 2 == 1) continue;  // dashed
        p.canvas.line(p.x(curveX(k)), p.y(curveY(scale * curve.db[a])), p.x(curveX(k + 1)), p.y(curveY(scale * curve.db[b])),
                      p.s(thickness), c);
    }
}

void drawToneMatch(const Painter& p, const align::ToneCurve& held, double amount, const DiMeasurement& m) {
    double y = 748;
    for (const std::string& sentence : toneWords(held, amount, m)) {
        for (const std::string& line : wrapped(sentence, 11, kToneWordsWidth)) {
            p.text(kToneWordsX, y, line, 11, kDim);
            y += 17;
        }
        y += 6;
    }
    p.rect(kCurveX, kCurveY, kCurveW, kCurveH, 4, kPanel);
    for (double hz : {50.0, 100.0, 200.0, 500.0, 1000.0, 2000.0, 5000.0, 10000.0}) {
        p.canvas.line(p.x(curveX(hz)), p.y(kCurveY), p.x(curveX(hz)), p.y(kCurveY + kCurveH), p.s(1), kGrid);
        const std::string label = hz < 1000 ? numberText("%.0f", hz) : numberText("%.0fk", hz / 1000);
        p.text(curveX(hz) + 3, kCurveY + kCurveH - 4, label, 9, kDim);
    }
    for (double db : {-12.0, 0.0, 12.0}) {
        p.canvas.line(p.x(kCurveX), p.y(curveY(db)), p.x(kCurveX + kCurveW), p.y(curveY(db)), p.s(db == 0 ? 1.5 : 1), kGrid);
        p.text(kCurveX - 6, curveY(db) + 4, numberText("%+.0f dB", db), 9, kDim, Align::Right);
    }
    if (held.learned()) drawCurve(p, held, amount / 100.0, 2.5, false);
    if (m.canApply() && m.curve().learned()) drawCurve(p, m.curve(), 1.0, 1.5, true);
}

// The preset bar: the arrows, the name of the preset the controls show (or "modified"), and
// the menu of factory presets when it is open, over everything else.
void drawPresetBar(const Painter& p, int shown, bool menuOpen) {
    for (const ButtonPlace& b : kButtons) {
        if (b.button == Button::Measure || b.button == Button::Apply) continue;
        p.rect(b.x, b.y, b.w, b.h, 6, b.button == Button::PresetMenu && menuOpen ? Color{44, 52, 64} : kPanel);
        if (b.label[0] != '\0') p.text(b.x + b.w / 2, b.y + 23, b.label, 15, kText, Align::Centre);
    }
    const ButtonPlace& name = kButtons[3];
    p.text(name.x + name.w / 2, name.y + 22, shown >= 0 ? vintrel::kFactoryPresets[static_cast<std::size_t>(shown)].name : "modified",
           12, shown >= 0 ? kText : kDim, Align::Centre);
    if (!menuOpen) return;
    const double height = kMenuRow * static_cast<double>(vintrel::kFactoryPresets.size()) + 8;
    p.rect(kMenuX, kMenuY, kMenuWidth, height, 6, Color{30, 34, 42});
    for (std::size_t i = 0; i < vintrel::kFactoryPresets.size(); ++i) {
        const double y = kMenuY + 4 + kMenuRow * static_cast<double>(i);
        if (static_cast<int>(i) == shown) p.rect(kMenuX + 4, y, kMenuWidth - 8, kMenuRow, 4, Color{36, 52, 66});
        p.text(kMenuX + 14, y + 16, vintrel::kFactoryPresets[i].name, 12, static_cast<int>(i) == shown ? kAccent : kText);
    }
}

// Where a control's value field opens: over a knob's value, a list's name, the A/B switch.
struct Box {
    double x, y, w, h;
    bool contains(double dx, double dy) const { return dx >= x && dx < x + w && dy >= y && dy < y + h; }
};
Box fieldBox(int parameter) {
    const Place& at = *placeOf(parameter);
    if (at.widget == Widget::Knob) return {at.x + 4, at.y + 99, at.w - 8, 21};
    if (at.widget == Widget::Segments) return {at.x + 40, at.y + 6, at.w - 80, 22};
    return {at.x - 4, at.y - 25, at.w + 8, 21};
}

// The editor's own menu of a control, where the host has none: a row for each item.
constexpr double kOwnMenuWidth = 132, kOwnMenuRow = 24, kOwnMenuHeight = kOwnMenuRow * kMenuItems + 8;

void drawField(const Painter& p, int parameter, const std::string& text, bool refused, bool selected) {
    const Box b = fieldBox(parameter);
    p.rect(b.x - 1.5, b.y - 1.5, b.w + 3, b.h + 3, 5, refused ? kOver : kAccent);
    p.rect(b.x, b.y, b.w, b.h, 4, Color{14, 16, 20});
    // The value shown when the field opened is selected: the first key replaces it.
    if (selected && !text.empty()) {
        const double w = std::min(Canvas::textWidth(text, 12) + 6, b.w - 4);
        p.rect(b.x + b.w / 2 - w / 2, b.y + 3, w, b.h - 6, 2, Color{36, 64, 86});
    }
    p.text(b.x + b.w / 2, b.y + 15, selected ? text : text + "|", 12, refused ? kOver : kText, Align::Centre);
    if (!refused) return;
    const double w = std::max(b.w, Canvas::textWidth("NOT A VALUE", 10) + 14);
    p.rect(b.x + b.w / 2 - w / 2, b.y - 23, w, 19, 4, kOver);
    p.text(b.x + b.w / 2, b.y - 9, "NOT A VALUE", 10, kText, Align::Centre);
}

void drawOwnMenu(const Painter& p, double x, double y) {
    p.rect(x - 1, y - 1, kOwnMenuWidth + 2, kOwnMenuHeight + 2, 7, kGrid);
    p.rect(x, y, kOwnMenuWidth, kOwnMenuHeight, 6, Color{30, 34, 42});
    for (int i = 0; i < kMenuItems; ++i)
        p.text(x + 12, y + 4 + kOwnMenuRow * i + 16, menuItemName(static_cast<MenuItem>(i)), 12, kText);
}

}  // namespace

const char* menuItemName(MenuItem item) { return item == MenuItem::Default ? "Default" : "Type a value"; }

double knobTravel(int parameter, double value) {
    const decoder::Parameter& r = row(parameter);
    value = std::clamp(value, r.min, r.max);
    if (!tapered(parameter)) return (value - r.min) / (r.max - r.min);
    int k = 0;
    while (k < 2 && value > kTaper[k + 1][1]) ++k;
    const double span = kTaper[k + 1][1] - kTaper[k][1];
    return kTaper[k][0] + (value - kTaper[k][1]) / span * (kTaper[k + 1][0] - kTaper[k][0]);
}

double valueAtTravel(int parameter, double travel) {
    const decoder::Parameter& r = row(parameter);
    travel = std::clamp(travel, 0.0, 1.0);
    if (!tapered(parameter)) return r.min + travel * (r.max - r.min);
    int k = 0;
    while (k < 2 && travel > kTaper[k + 1][0]) ++k;
    const double span = kTaper[k + 1][0] - kTaper[k][0];
    return kTaper[k][1] + (travel - kTaper[k][0]) / span * (kTaper[k + 1][1] - kTaper[k][1]);
}

Editor::Editor(EditorHost& host, MeterFeed* feed) : host_(host), feed_(feed) {
    for (int i = 0; i < kParameters; ++i) values_[static_cast<std::size_t>(i)] = row(i).defaultValue;
}

bool Editor::setValue(int parameter, double value) {
    // The control under a drag follows the mouse, not the host's echo of it.
    if (!shows(parameter) || std::isnan(value) || parameter == dragging_) return false;
    const double held = std::clamp(value, row(parameter).min, row(parameter).max);
    if (held == values_[static_cast<std::size_t>(parameter)]) return false;
    values_[static_cast<std::size_t>(parameter)] = held;
    return true;
}

void Editor::setSize(int width, int height) {
    width_ = std::max(width, 1);
    height_ = std::max(height, 1);
}

int Editor::smallestWidth() const { return static_cast<int>(std::lround(kBaseWidth * scale_ / 2)); }

int Editor::smallestHeight() const { return static_cast<int>(std::lround(kBaseHeight * scale_ / 2)); }

void Editor::setScale(double scale) {
    if (!(scale >= 0.5 && scale <= 4)) return;
    scale_ = scale;
    width_ = static_cast<int>(std::lround(kBaseWidth * scale));
    height_ = static_cast<int>(std::lround(kBaseHeight * scale));
}

bool Editor::takeMeters(MeterFeed& feed, double seconds) {
    const bool levels = meters_.update(feed.take(), seconds);
    const bool faded = scope_.fade(std::pow(0.5, seconds / 0.15));  // points fade to half in 150 ms
    return feed.takePoints(scope_) > 0 || faded || levels;
}

Editor::View Editor::view() const {
    const double zoom = std::min(width_ / double(kBaseWidth), height_ / double(kBaseHeight));
    return {zoom, (width_ - kBaseWidth * zoom) / 2, (height_ - kBaseHeight * zoom) / 2};
}

Canvas Editor::draw() const {
    Canvas canvas(width_, height_, kBackground);
    const View v = view();
    const Painter p{canvas, v.zoom, v.left, v.top};
    p.text(18, 38, "GUITAR DECODER", 22, kText);
    p.text(222, 38, "MID / SIDE + DI", 13, kDim);
    for (const Group& g : kGroups) {
        p.rect(g.x, g.y, g.w, g.h, 8, Color{22, 25, 31});
        p.text(g.x + 10, g.y + 18, g.title, 11, kAccent);
    }
    for (const Place& at : kPlaces) {
        const double value = values_[static_cast<std::size_t>(at.parameter)];
        if (at.widget == Widget::Knob)
            drawKnob(p, at, value);
        else
            drawChoices(p, at, value);
    }
    drawMeters(p, meters_.snapshot());
    drawScopePanel(p, scope_);
    drawAlignment(p, measurement_);
    drawToneMatch(p, toneCurve_, values_[vintrel::kDiMatch], measurement_);
    drawPresetBar(p, presetShown(), menuOpen_);
    if (typing()) drawField(p, field_.parameter, field_.text, field_.refused, field_.replace);
    if (menu_.parameter >= 0) drawOwnMenu(p, menu_.x, menu_.y);
    return canvas;
}

int Editor::parameterAt(double x, double y) const {
    const View v = view();
    const double dx = (x - v.left) / v.zoom, dy = (y - v.top) / v.zoom;
    for (const Place& at : kPlaces) {
        // A list's name above it belongs to it too.
        const double top = at.widget == Widget::List ? at.y - 20 : at.y;
        if (dx >= at.x && dx < at.x + at.w && dy >= top && dy < at.y + at.h) return at.parameter;
    }
    return -1;
}

Button Editor::buttonAt(double x, double y) const {
    const View v = view();
    const double dx = (x - v.left) / v.zoom, dy = (y - v.top) / v.zoom;
    for (const ButtonPlace& b : kButtons)
        if (dx >= b.x && dx < b.x + b.w && dy >= b.y && dy < b.y + b.h) return b.button;
    return Button::Nothing;
}

int Editor::presetShown() const {
    for (std::size_t i = 0; i < vintrel::kFactoryPresets.size(); ++i) {
        const auto& preset = vintrel::kFactoryPresets[i];
        bool same = values_[vintrel::kDiDelay] == 0 && values_[vintrel::kDiPolarity] == 0;
        for (std::size_t k = 0; k < preset.values.size() && same; ++k) same = values_[k] == preset.values[k];
        if (same) return static_cast<int>(i);
    }
    return -1;
}

// A preset's whole state: the decoder's values, and the DI's alignment at none, as a host
// loading the preset's state sets them. The changed controls' gestures overlap: one step.
void Editor::choosePreset(int index) {
    if (index < 0 || index >= static_cast<int>(vintrel::kFactoryPresets.size()) || dragging_ >= 0) return;
    const auto target = vintrel::presetTargets(vintrel::kFactoryPresets[static_cast<std::size_t>(index)]);
    static_assert(vintrel::kPresetParameterCount == vintrel::kBypass, "a preset sets every control up to the bypass");
    std::vector<int> changed;
    for (int i = 0; i < static_cast<int>(vintrel::kPresetParameterCount); ++i)
        if (onGrid(i, target[static_cast<std::size_t>(i)]) != values_[static_cast<std::size_t>(i)]) changed.push_back(i);
    for (int i : changed) host_.beginEdit(i);
    for (int i : changed) edit(i, target[static_cast<std::size_t>(i)]);
    host_.presetChosen(index);
    for (int i : changed) host_.endEdit(i);
    lastPreset_ = index;
}

int Editor::presetItemAt(double x, double y) const {
    if (!menuOpen_) return -1;
    const View v = view();
    const double dx = (x - v.left) / v.zoom, dy = (y - v.top) / v.zoom;
    const auto count = static_cast<double>(vintrel::kFactoryPresets.size());
    if (dx < kMenuX || dx >= kMenuX + kMenuWidth || dy < kMenuY + 4 || dy >= kMenuY + 4 + kMenuRow * count) return -1;
    return static_cast<int>((dy - kMenuY - 4) / kMenuRow);
}

bool Editor::pumpMeasurement() { return feed_ != nullptr && measurement_.pump(feed_->diInputs); }

// MEASURE starts a measurement, or stops one under way; APPLY sets what it found, the delay and
// the polarity as a gesture each, as a host's undo and automation want them.
bool Editor::press(Button button) {
    if (button == Button::Measure && feed_ != nullptr) {
        if (measurement_.state() == DiMeasurement::State::Measuring)
            measurement_.stop(feed_->diInputs);
        else
            measurement_.start(feed_->diInputs);
        return true;
    }
    const int presets = static_cast<int>(vintrel::kFactoryPresets.size());
    const int from = presetShown() >= 0 ? presetShown() : lastPreset_;
    if (button == Button::PresetMenu) {
        menuOpen_ = true;
        return true;
    }
    if (button == Button::PresetNext || button == Button::PresetPrevious) {
        const int step = button == Button::PresetNext ? 1 : presets - 1;
        choosePreset(from < 0 ? (button == Button::PresetNext ? 0 : presets - 1) : (from + step) % presets);
        return true;
    }
    if (button == Button::Apply && measurement_.canApply()) {
        applyMeasurement();
        return true;
    }
    return false;
}

// APPLY: the delay that lines up the DI as it will be matched, its polarity, the curve, and the
// amount at 100 % where it was off, as one host step (the gestures overlap, as a preset's).
void Editor::applyMeasurement() {
    const align::ToneCurve& curve = measurement_.curve();
    const bool matching = curve.learned() && !curve.flat();
    const double amount = values_[vintrel::kDiMatch] > 0 || !matching ? values_[vintrel::kDiMatch] : 100.0;
    const align::DiEstimate at = measurement_.matchedMid(matching ? amount / 100.0 : 0.0);
    const std::pair<int, double> targets[] = {{vintrel::kDiDelay, at.delaySamples * 1000.0 / measurement_.sampleRate()},
                                              {vintrel::kDiPolarity, at.inverted() ? 1.0 : 0.0},
                                              {vintrel::kDiMatch, amount}};
    std::vector<std::pair<int, double>> changed;
    for (const auto& [parameter, value] : targets)
        if (onGrid(parameter, value) != values_[static_cast<std::size_t>(parameter)]) changed.emplace_back(parameter, value);
    host_.beginStep();
    for (const auto& change : changed) host_.beginEdit(change.first);
    host_.setToneCurve(curve);
    toneCurve_ = curve;
    for (const auto& [parameter, value] : changed) edit(parameter, value);
    for (const auto& change : changed) host_.endEdit(change.first);
    host_.endStep();
}

bool Editor::followToneCurve() {
    const align::ToneCurve now = host_.toneCurve();
    if (now.db == toneCurve_.db && now.held == toneCurve_.held) return false;
    toneCurve_ = now;
    return true;
}

void Editor::edit(int parameter, double value) {
    value = onGrid(parameter, value);
    if (value == values_[static_cast<std::size_t>(parameter)]) return;
    values_[static_cast<std::size_t>(parameter)] = value;
    host_.performEdit(parameter, value);
}

void Editor::gesture(int parameter, double value) {
    if (onGrid(parameter, value) == values_[static_cast<std::size_t>(parameter)]) return;
    host_.beginEdit(parameter);
    edit(parameter, value);
    host_.endEdit(parameter);
}

bool Editor::mouseDown(double x, double y, unsigned modifiers, int clicks) {
    if (dragging_ >= 0) return false;
    const View v = view();
    const double dx = (x - v.left) / v.zoom, dy = (y - v.top) / v.zoom;
    // An open field or menu takes the next click: a click elsewhere closes the field unset.
    if (typing()) return !onField(x, y) && closeField();
    if (menu_.parameter >= 0) {
        const int item = menuItemAt(x, y), parameter = menu_.parameter;
        menu_.parameter = -1;
        if (item >= 0) chooseMenuItem(parameter, static_cast<MenuItem>(item));
        return true;
    }
    // An open menu takes the next click: a preset chosen, or the menu closed.
    if (menuOpen_) {
        const int item = presetItemAt(x, y);
        menuOpen_ = false;
        if (item >= 0) choosePreset(item);
        return true;
    }
    if (const Button button = buttonAt(x, y); button != Button::Nothing) return press(button);
    const int parameter = parameterAt(x, y);
    if (parameter < 0) {
        const bool onMeters = dx >= kGroups[4].x && dx < kGroups[4].x + kGroups[4].w && dy >= kGroups[4].y &&
                              dy < kGroups[4].y + kGroups[4].h;
        if (onMeters) meters_.resetMarks();
        return onMeters;
    }
    const Place& at = *placeOf(parameter);
    const decoder::Parameter& r = row(parameter);
    if (at.widget == Widget::Knob) {
        // The value under the knob is text: a double click opens it for typing, a drag starts
        // on the knob itself.
        if (fieldBox(parameter).contains(dx, dy)) {
            if (clicks >= 2) openField(parameter);
            return clicks >= 2;
        }
        if (clicks >= 2) {
            gesture(parameter, r.defaultValue);
            return true;
        }
        dragging_ = parameter, dragY_ = y, dragValue_ = dragFrom_ = values_[static_cast<std::size_t>(parameter)];
        dragModifiers_ = modifiers;
        host_.beginEdit(parameter);
        return false;
    }
    // A label clicked is chosen; a click on the name above a list moves to the next label.
    const int n = r.labelCount();
    int chosen = static_cast<int>(std::lround(values_[static_cast<std::size_t>(parameter)] - r.min));
    if (at.widget == Widget::Segments)
        chosen = std::clamp(static_cast<int>((dx - at.x) / (at.w / n)), 0, n - 1);
    else if (dy < at.y)
        chosen = (chosen + 1) % n;
    else
        chosen = std::clamp(static_cast<int>((dy - at.y) / (at.h / n)), 0, n - 1);
    gesture(parameter, r.min + chosen);
    return true;
}

bool Editor::mouseMove(double, double y, unsigned modifiers) {
    if (dragging_ < 0) return false;
    // A change of Shift mid-drag starts afresh from where the control is, so it never jumps.
    if ((modifiers & kShift) != (dragModifiers_ & kShift)) {
        dragY_ = y, dragValue_ = values_[static_cast<std::size_t>(dragging_)];
        dragModifiers_ = modifiers;
    }
    const double span = kDragSpan * ((modifiers & kShift) ? 10 : 1) * view().zoom;
    const double before = values_[static_cast<std::size_t>(dragging_)];
    // Along the knob's travel, which the level knobs taper.
    edit(dragging_, valueAtTravel(dragging_, knobTravel(dragging_, dragValue_) + (dragY_ - y) / span));
    return values_[static_cast<std::size_t>(dragging_)] != before;
}

bool Editor::mouseUp(double, double) {
    if (dragging_ < 0) return false;
    host_.endEdit(dragging_);
    dragging_ = -1;
    return true;
}

bool Editor::wheel(double x, double y, int notches, unsigned) {
    const int parameter = parameterAt(x, y);
    if (parameter < 0 || notches == 0 || dragging_ >= 0) return false;
    const double before = values_[static_cast<std::size_t>(parameter)];
    gesture(parameter, before + notches * wheelStep(parameter));
    return values_[static_cast<std::size_t>(parameter)] != before;
}

bool Editor::rightClick(double x, double y) {
    bool changed = closeField();
    if (menu_.parameter >= 0 || menuOpen_) menu_.parameter = -1, menuOpen_ = false, changed = true;
    const int parameter = parameterAt(x, y);
    if (parameter < 0 || dragging_ >= 0 || host_.showHostMenu(parameter, x, y)) return changed;
    const View v = view();
    menu_ = {parameter, std::clamp((x - v.left) / v.zoom, 0.0, kBaseWidth - kOwnMenuWidth),
             std::clamp((y - v.top) / v.zoom, 0.0, kBaseHeight - kOwnMenuHeight)};
    return true;
}

int Editor::menuItemAt(double x, double y) const {
    const View v = view();
    const double dx = (x - v.left) / v.zoom - menu_.x, dy = (y - v.top) / v.zoom - menu_.y - 4;
    if (menu_.parameter < 0 || dx < 0 || dx >= kOwnMenuWidth || dy < 0 || dy >= kOwnMenuRow * kMenuItems) return -1;
    return static_cast<int>(dy / kOwnMenuRow);
}

bool Editor::chooseMenuItem(int parameter, MenuItem item) {
    if (!shows(parameter) || dragging_ >= 0) return false;
    menu_.parameter = -1;
    closeField();
    if (item == MenuItem::Default)
        gesture(parameter, row(parameter).defaultValue);
    else
        openField(parameter);
    return true;
}

void Editor::openField(int parameter) {
    if (!shows(parameter) || dragging_ >= 0) return;
    menuOpen_ = false, menu_.parameter = -1;
    field_ = {parameter, shownText(parameter, values_[static_cast<std::size_t>(parameter)]), true, false};
}

bool Editor::onField(double x, double y) const {
    const View v = view();
    return typing() && fieldBox(field_.parameter).contains((x - v.left) / v.zoom, (y - v.top) / v.zoom);
}

bool Editor::closeField() {
    if (!typing()) return false;
    field_ = {};
    return true;
}

bool Editor::keyDown(Key key, char character) {
    if (!typing()) return false;
    Field& f = field_;
    if (key == Key::Escape) return closeField();
    if (key == Key::Enter) {
        const std::size_t first = f.text.find_first_not_of(' '), last = f.text.find_last_not_of(' ');
        const std::string text = first == std::string::npos ? "" : f.text.substr(first, last - first + 1);
        double value = 0;
        if (!vintrel::EmbeddedDecoder::valueFor(f.parameter, text.c_str(), value)) {
            f.refused = true, f.replace = false;  // the text stays, to be mended
            return true;
        }
        const int parameter = f.parameter;
        closeField();
        gesture(parameter, value);
        return true;
    }
    if (key == Key::Backspace) {
        if (f.replace) f.text.clear();
        if (!f.text.empty()) f.text.pop_back();
    } else if (key == Key::Character && character >= 0x20 && character < 0x7f) {
        if (f.replace) f.text.clear();
        if (f.text.size() < 24) f.text += character;
    } else {
        return true;  // the field holds the keyboard while it is open
    }
    f.replace = false, f.refused = false;
    return true;
}

}  // namespace editor
