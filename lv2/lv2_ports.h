// What the LV2 plug-in and its generated description share: its URI and its port layout.
#pragma once

#include <cstdint>

namespace vintrel::lv2 {

constexpr char kUri[] = "urn:brelvander:guitar-decoder";
constexpr char kUiUri[] = "urn:brelvander:guitar-decoder#editor";
constexpr char kUiBinary[] = "GuitarDecoderEditor";  // the editor's module, beside the plug-in's

// Three audio inputs, three audio outputs, then one control input per parameter, in the
// order of the VST 2 parameters and then the DI's alignment, the latency the alignment reports
// (an output), the host's bypass as LV2 has it: "enabled", the bypass turned over, and last the
// amount of the DI's tone match.
// New ports only ever come after the old: sessions match ports by symbol, and hosts by index.
constexpr std::uint32_t kAudioInputs = 0, kAudioOutputs = 3, kControls = 6;
constexpr std::uint32_t kParameterCount = 13;
constexpr std::uint32_t kLatencyPort = kControls + kParameterCount;
constexpr char kLatencySymbol[] = "latency";
constexpr std::uint32_t kEnabledPort = kLatencyPort + 1;
constexpr char kEnabledSymbol[] = "enabled";
// Then the DI's tone match, whose curve the plug-in's state holds.
constexpr std::uint32_t kMatchPort = kEnabledPort + 1;
constexpr char kToneCurveUri[] = "urn:brelvander:guitar-decoder#tone_curve";

struct AudioPort {
    const char* symbol;
    const char* name;
};
constexpr AudioPort kAudioPorts[6] = {
    {"mid", "Mid microphone"},         {"side", "Side microphone"},
    {"di", "DI pickup"},               {"left", "Left (mid + side)"},
    {"right", "Right (mid - side)"},   {"di_out", "DI alone (when routed to pin 3)"},
};

}  // namespace vintrel::lv2
