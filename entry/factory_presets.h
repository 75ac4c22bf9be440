// The factory presets: starting points for the usual situations with a three-channel acoustic
// take, one row each, with the decoder's eleven values in display units. The DI's alignment is
// left at none (measure it for the take at hand) and the bypass off. Every format and the
// renderer take their presets from this table.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "entry/plugin_parameters.h"

namespace vintrel {

struct FactoryPreset {
    const char* name;
    // Its name for hosts that load it by key (a CLAP preset's load key, a preset file's name):
    // it stays the same when the table is reordered or a name is reworded.
    const char* key;
    const char* situation;  // what it is for, in a sentence
    // mid trim, side trim, output trim, width, swap, DI level, DI pan, DI routing, A/B MS,
    // active channels, main output trim
    std::array<double, 11> values;
};

// clang-format off
inline constexpr std::array<FactoryPreset, 9> kFactoryPresets = {{
    {"Neutral", "neutral", "the take as recorded: mid and side equal, no DI",
        {0, 0, 0, 0, 0, -150, 0, 0, 0, 0, 0}},
    {"Wide", "wide", "a wider image for a solo guitar: more side, the level kept",
        {0, 0, 0, 40, 0, -150, 0, 0, 0, 0, 0}},
    {"Narrow (mono-safe)", "narrow", "a guitar in a busy mix or a mono broadcast: less side, little lost summed to mono",
        {0, 0, 0, -50, 0, -150, 0, 0, 0, 0, 0}},
    {"DI under the mics", "di-under-mics", "the pickup's body and attack under the microphones, in the middle (align the DI first)",
        {0, 0, 0, 0, 0, -12, 0, 0, 0, 0, 0}},
    {"DI on its own track (output 3)", "di-on-output-3", "the microphones on outputs 1 and 2, the DI alone on output 3 to mix or reamp apart",
        {0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0}},
    {"Plain mid/side (A/B)", "plain-ms", "the plain mid/side decode, to compare the settings against",
        {0, 0, 0, 0, 0, -150, 0, 0, 1, 0, 0}},
    {"Mics only", "mics-only", "the microphones alone, the DI kept out of outputs 1 and 2",
        {0, 0, 0, 0, 0, -150, 0, 0, 0, 1, 0}},
    {"DI only (check the pickup)", "di-only", "the DI alone on both sides, to hear the pickup and its preamp",
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0}},
    {"Player's view (swapped)", "players-view", "left and right from where the player sits rather than the audience",
        {0, 0, 0, 0, 1, -150, 0, 0, 0, 0, 0}},
}};
// clang-format on

// The factory preset of this name (any case), or null.
const FactoryPreset* factoryPreset(const std::string& name);
// The factory preset of this key (exactly), or null.
const FactoryPreset* factoryPresetByKey(const char* key);

// What choosing a preset sets, in display units: the decoder's eleven values and the DI's
// alignment at none (it belongs to a take, not to a preset). The bypass is the host's.
inline constexpr std::size_t kPresetParameterCount = kDiPolarity + 1;
std::array<double, kPresetParameterCount> presetTargets(const FactoryPreset& preset);

}  // namespace vintrel
