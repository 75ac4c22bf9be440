// The parameters of the plug-in formats that carry an editor: the decoder's eleven, then the
// DI's alignment, which those formats apply before the decoder, then the bypass hosts use for a
// soft bypass, then how much of the DI's learned tone match is applied (the VST 2 module has
// only the eleven). Appended, so every earlier parameter
// keeps its id, symbol and meaning.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>

#include "effect/decoder_parameters.h"

namespace vintrel {

inline constexpr std::int32_t kDiDelay = 11, kDiPolarity = 12, kBypass = 13, kDiMatch = 14;
inline constexpr std::size_t kPluginParameterCount = 15;

// The delay's grid: a tenth of a microsecond, 0.02 samples at 192 kHz. A value on it is a
// whole number of steps divided by their count per millisecond, so the same text, state or
// host value gives the same double wherever it comes from.
inline constexpr double kDiDelayStepsPerMs = 10000;
inline double onDelayGrid(double ms) { return std::nearbyint(ms * kDiDelayStepsPerMs) / kDiDelayStepsPerMs + 0.0; }

namespace detail {
constexpr std::array<decoder::Parameter, kPluginParameterCount> withAlignment() {
    std::array<decoder::Parameter, kPluginParameterCount> rows{};
    for (std::size_t i = 0; i < decoder::kParameters.size(); ++i) rows[i] = decoder::kParameters[i];
    // No slider of the decoder holds these: the slot 0 names none.
    constexpr auto none = static_cast<decoder::Slider>(0);
    rows[kDiDelay] = {none, "DI delay", "di_delay", "ms", "ms", decoder::Kind::Position, 0, -10, 10,
                      1 / kDiDelayStepsPerMs, {}};
    rows[kDiPolarity] = {none, "DI polarity", "di_polarity", "", "", decoder::Kind::Switch, 0, 0, 1, 1,
                         {"normal", "inverted"}};
    rows[kBypass] = {none, "bypass", "bypass", "", "", decoder::Kind::Switch, 0, 0, 1, 1, {"off", "on"}};
    rows[kDiMatch] = {none, "DI match", "di_match", "%", "%", decoder::Kind::Position, 0, 0, 100, 0.1, {}};
    return rows;
}
}  // namespace detail

inline constexpr std::array<decoder::Parameter, kPluginParameterCount> kPluginParameters = detail::withAlignment();
static_assert(decoder::kParameters.size() == kDiDelay, "the alignment comes after the decoder's parameters");

}  // namespace vintrel
