// The LV2 plug-in's instance, which its editor reaches through the host's instance-access
// feature for the meters (both modules are built from this one declaration).
#pragma once

#include <cstddef>
#include <memory>

#include "editor/meters.h"
#include "entry/embedded_decoder.h"

namespace vintrel::lv2 {

constexpr std::size_t kParameterCount = 11;

struct Lv2Decoder {
    std::unique_ptr<EmbeddedDecoder> decoder;
    float* audio[6] = {};
    const float* controls[kParameterCount] = {};
    float applied[kParameterCount] = {};
    bool appliedAny = false;
    editor::MeterFeed meters;  // measured while an editor is open
};

}  // namespace vintrel::lv2
