// What both fuzzers share: a host callback with time information the input controls, and
// heap buffers of exactly the size a text request may fill, so any overrun is caught.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "vst2/aeffect.h"

namespace fuzzhost {

inline VstTimeInfo timeInfo{};
inline bool giveTime = true;

inline VstIntPtr VSTCALLBACK callback(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    if (opcode == audioMasterVersion) return 2400;
    if (opcode == audioMasterGetTime) return giveTime ? reinterpret_cast<VstIntPtr>(&timeInfo) : 0;
    return 0;
}

// The most a plug-in may write for a text request.
inline std::size_t textCapacity(VstInt32 opcode) {
    switch (opcode) {
        case effGetEffectName:
        case effGetVendorString:
        case effGetProductString: return 64;
        case effGetProgramName:
        case effGetProgramNameIndexed: return 24;
        case effGetParamName:
        case effGetParamLabel:
        case effGetParamDisplay: return 32;
        default: return 256;
    }
}

// Decoding in double precision never gives a NaN or an infinity, whatever comes in.
inline void requireFinite(double* const* outputs, VstInt32 channels, VstInt32 frames) {
    for (VstInt32 k = 0; k < channels; ++k)
        for (VstInt32 j = 0; j < frames; ++j)
            if (!(outputs[k][j] - outputs[k][j] == 0.0)) __builtin_trap();
}

}  // namespace fuzzhost
