// The decoder's parameters, one row each in host order: what the effect declares to the host,
// and what every format, the renderer, the tests and the benchmark read about them.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>

namespace decoder {

// Where each parameter's value lives in Sliders.
enum Slider : std::int32_t {
    kMidTrim = 1,
    kSideTrim,
    kOutputTrim,
    kStereoWidth,
    kSwap,
    kDiLevel,
    kDiPan,
    kDiRouting,
    kAbMs,
    kActiveChannels,
    kMainTrim,
};

enum class Kind {
    Level,     // decibels, turned into a gain
    Position,  // -120 .. 120 between two ends (width: mid to side; pan: one channel to the other)
    Switch,    // a choice of labels
};

struct Parameter {
    Slider slider;
    const char* name;
    const char* symbol;  // the identifier formats that need one use; never changes, sessions keep it
    const char* label;   // the unit text the VST 2 host is told, as the plug-in has always told it
    const char* unit;    // the unit the value is in: "dB" for every level, whatever its label
    Kind kind;
    double defaultValue, min, max, step;
    std::array<const char*, 3> labels;  // a switch's texts from min up; null past the last

    bool isSwitch() const { return kind == Kind::Switch; }
    std::int32_t labelCount() const {
        std::int32_t n = 0;
        while (n < 3 && labels[static_cast<std::size_t>(n)] != nullptr) ++n;
        return n;
    }
    // The number of grid steps from min to max (a switch's labels less one).
    std::int32_t stepCount() const { return static_cast<std::int32_t>(std::lround((max - min) / step)); }
};

// clang-format off
inline constexpr std::array<Parameter, 11> kParameters = {{
    // slider         name                 symbol               label unit  kind             default  min   max  step  labels
    {kMidTrim,        "mid channel trim",  "mid_channel_trim",  "dB", "dB", Kind::Level,        0,   -12,   12, 0.1, {}},
    {kSideTrim,       "side channel trim", "side_channel_trim", "dB", "dB", Kind::Level,        0,   -12,   12, 0.1, {}},
    {kOutputTrim,     "output trim",       "output_trim",       "dB", "dB", Kind::Level,        0,  -150,   12, 0.1, {}},
    {kStereoWidth,    "stereo width",      "stereo_width",      "",   "",   Kind::Position,     0,  -120,  120, 0.1, {}},
    {kSwap,           "L/R swap",          "l_r_swap",          "",   "",   Kind::Switch,       0,     0,    1, 1,   {"normal", "swapped"}},
    {kDiLevel,        "DI level",          "di_level",          "",   "dB", Kind::Level,     -150,  -150,   12, 0.1, {}},
    {kDiPan,          "DI pan to L/R",     "di_pan_to_l_r",     "",   "",   Kind::Position,     0,  -120,  120, 0.1, {}},
    {kDiRouting,      "DI routing",        "di_routing",        "",   "",   Kind::Switch,       0,     0,    1, 1,   {"mix DI with plugin output", "output DI via pin 3"}},
    {kAbMs,           "A/B MS",            "a_b_ms",            "",   "",   Kind::Switch,       0,     0,    1, 1,   {"processed", "unprocessed"}},
    {kActiveChannels, "active channels",   "active_channels",   "",   "",   Kind::Switch,       0,     0,    2, 1,   {"all", "MS only", "DI only"}},
    {kMainTrim,       "main output trim",  "main_output_trim",  "",   "dB", Kind::Level,        0,   -10,   10, 0.1, {}},
}};
// clang-format on

// A position of -120 .. 120 becomes a share of 0 .. 1 as (120 + v) / 240: the range's half
// and its whole span.
inline constexpr double kPositionHalfRange = 120;
inline constexpr double kPositionSpan = 240;
// The decoded pair is mid + side and mid - side at half weight each, made whole again.
inline constexpr double kDecodedPairGain = 2;

}  // namespace decoder
