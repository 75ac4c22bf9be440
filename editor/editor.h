// The decoder's editor, knowing no plug-in format and no window system: the eleven controls
// grouped as the signal flows, the DI's alignment with its measurement, the DI's tone match, the
// six meters and the vectorscope. It draws a picture of its state, answers the mouse, and tells its host each
// edit as one gesture (begin, values, end).
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "align/tone_match.h"
#include "editor/canvas.h"
#include "editor/di_measurement.h"
#include "editor/meters.h"
#include "editor/scope.h"
#include "entry/plugin_parameters.h"

namespace editor {

// The parameters it knows; it shows every one but the bypass, which hosts show as their own.
constexpr int kParameters = static_cast<int>(vintrel::kPluginParameterCount);
constexpr bool shows(int parameter) { return parameter >= 0 && parameter < kParameters && parameter != vintrel::kBypass; }
// The size at a content scale of 1; the host may make it larger (never smaller).
constexpr int kBaseWidth = 1000, kBaseHeight = 860;

// Where edits go: the format's channel to its host.
class EditorHost {
public:
    virtual ~EditorHost() = default;
    virtual void beginEdit(int parameter) = 0;
    virtual void performEdit(int parameter, double value) = 0;  // in display units, on the grid
    virtual void endEdit(int parameter) = 0;
    // A factory preset chosen, its controls' gestures under way: a format whose host keeps a
    // program of its own (VST 3's program list) moves it too.
    virtual void presetChosen(int) {}
    // A right click on a parameter's control at a point of the window: the host's own menu for
    // the parameter (automation, MIDI learn...), with the editor's items in it. False where the
    // host has none to show: the editor draws its own.
    virtual bool showHostMenu(int, double, double) { return false; }
    // The DI's tone match the plug-in holds (which "DI match" scales), and APPLY's new one, set
    // inside the gestures of the same step. A host that reaches no plug-in has none.
    virtual align::ToneCurve toneCurve() { return {}; }
    virtual void setToneCurve(const align::ToneCurve&) {}
    // Around edits that are one step (APPLY's), for a host that groups them.
    virtual void beginStep() {}
    virtual void endStep() {}
};

// The editor's items in a control's menu, the host's or its own.
enum class MenuItem { Default, TypeAValue };
constexpr int kMenuItems = 2;
const char* menuItemName(MenuItem item);

// The keys the value field takes; any other character comes as Character.
enum class Key { Character, Enter, Escape, Backspace, Other };

constexpr unsigned kShift = 1;  // a modifier held: finer drags

// How far along its travel (0 .. 1) a knob stands at a value, and the way back. The two level
// knobs of -150 .. +12 dB spend their travel where levels are set: -150 dB at the bottom, -40 dB
// at a quarter, 0 dB at three quarters, +12 dB at the top, straight between; every other knob
// is straight from its bottom to its top. Hosts' normalised values are never tapered.
double knobTravel(int parameter, double value);
double valueAtTravel(int parameter, double travel);

// The editor's buttons, which are not parameters.
enum class Button { Nothing, Measure, Apply, PresetPrevious, PresetMenu, PresetNext };

class Editor {
public:
    // `feed`, when given, brings the inputs for the DI's measurement.
    explicit Editor(EditorHost& host, MeterFeed* feed = nullptr);

    // What the host says: a parameter's value (display units), from automation, a state or a
    // preset; shown at the next picture. A control under a drag keeps the drag's value.
    // Answers whether the value shown changed.
    bool setValue(int parameter, double value);
    double value(int parameter) const { return values_[static_cast<std::size_t>(parameter)]; }

    // The window's size in pixels and the content scale; the layout keeps its proportions and
    // fills what it is given, scaled down where a host forces a window smaller than the
    // smallest it offers (half its size at the scale: below that text is no longer readable).
    void setSize(int width, int height);
    int smallestWidth() const;
    int smallestHeight() const;
    void setScale(double scale);
    int width() const { return width_; }
    int height() const { return height_; }
    double scale() const { return scale_; }

    // Meter levels and scope points from the feed, `seconds` after the last time; answers
    // whether the picture changed.
    bool takeMeters(MeterFeed& feed, double seconds);
    MeterBallistics& meters() { return meters_; }
    ScopeData& scope() { return scope_; }
    // The DI's measurement carried on with what the feed brought; answers whether it shows
    // anything new.
    bool pumpMeasurement();
    const DiMeasurement& measurement() const { return measurement_; }
    // The plug-in's tone match as its host has it now; answers whether what is shown changed.
    bool followToneCurve();
    const align::ToneCurve& toneCurve() const { return toneCurve_; }

    // The factory preset the controls show, or -1 (the preset bar then says "modified"); and
    // one chosen: every control it moves in one host step (a gesture for each opened together,
    // their values, then all closed).
    int presetShown() const;
    void choosePreset(int index);
    bool presetMenuOpen() const { return menuOpen_; }

    // Mouse events in window pixels. Answer whether the picture changed. A right click opens
    // the control's menu (the host's, or the editor's own) and never changes a value.
    bool mouseDown(double x, double y, unsigned modifiers, int clicks);
    bool rightClick(double x, double y);
    bool mouseMove(double x, double y, unsigned modifiers);
    bool mouseUp(double x, double y);
    bool wheel(double x, double y, int notches, unsigned modifiers);

    // An item of a control's menu chosen (from the host's menu or the editor's own).
    bool chooseMenuItem(int parameter, MenuItem item);
    int menuParameter() const { return menu_.parameter; }  // the editor's own menu, or -1

    // The value field, opened by a double click on a knob's value or the menu: the keyboard is
    // the editor's only while it is open (typing()); any other key is the host's. Enter sets
    // the text's value as one gesture, by the rule hosts' text uses; text that is no value
    // stays, said to be none; Escape or a click elsewhere closes it. keyDown answers whether
    // the editor took the key.
    void openField(int parameter);
    bool typing() const { return field_.parameter >= 0; }
    bool keyDown(Key key, char character = 0);
    const std::string& fieldText() const { return field_.text; }
    bool fieldRefused() const { return field_.refused; }

    Canvas draw() const;

    // The control under a point in window pixels, or -1; the button there, or Nothing.
    int parameterAt(double x, double y) const;
    Button buttonAt(double x, double y) const;

private:
    struct View {
        double zoom, left, top;  // window pixels per design unit, and where the design starts
    };
    View view() const;
    void edit(int parameter, double value);  // a value for the host, snapped to the grid
    void gesture(int parameter, double value);  // begin, value, end
    bool press(Button button);
    void applyMeasurement();
    int presetItemAt(double x, double y) const;  // an item of the open menu, or -1
    int menuItemAt(double x, double y) const;     // an item of the editor's own menu, or -1
    bool onField(double x, double y) const;
    bool closeField();

    EditorHost& host_;
    MeterFeed* feed_;
    DiMeasurement measurement_;
    align::ToneCurve toneCurve_;
    bool menuOpen_ = false;
    int lastPreset_ = -1;  // the one chosen last, where prev/next start from
    struct Field {
        int parameter = -1;
        std::string text;
        bool replace = false;  // the shown value, taken away by the first key
        bool refused = false;
    } field_;
    struct Menu {
        int parameter = -1;
        double x = 0, y = 0;  // design units
    } menu_;
    std::array<double, kParameters> values_{};
    int width_ = kBaseWidth, height_ = kBaseHeight;
    double scale_ = 1.0;
    MeterBallistics meters_;
    ScopeData scope_{720, 360};
    // A drag in progress: its parameter, where it started and the value it started from.
    int dragging_ = -1;
    double dragY_ = 0, dragValue_ = 0, dragFrom_ = 0;
    unsigned dragModifiers_ = 0;
};

}  // namespace editor
