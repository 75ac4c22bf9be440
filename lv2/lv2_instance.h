// The LV2 plug-in's instance, which its editor reaches through the host's instance-access
// feature for the meters (both modules are built from this one declaration).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "editor/meters.h"
#include "entry/embedded_decoder.h"
#include "lv2/lv2_ports.h"

namespace vintrel::lv2 {

struct Lv2Decoder {
    std::unique_ptr<EmbeddedDecoder> decoder;
    float* audio[6] = {};
    const float* controls[kParameterCount] = {};
    float applied[kParameterCount] = {};
    bool appliedAny = false;
    float* latency = nullptr;  // the output port the alignment's latency is written to
    const float* enabled = nullptr;  // the host's bypass, turned over
    float appliedEnabled = 1;
    const float* match = nullptr;  // the DI's tone match, in percent
    float appliedMatch = 0;
    // For the state: the host's map, when it gives one, and the curve's two URIDs.
    std::uint32_t curveKey = 0, chunkType = 0;
    editor::MeterFeed meters;  // measured while an editor is open
};

}  // namespace vintrel::lv2
