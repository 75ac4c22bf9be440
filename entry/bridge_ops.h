// The bridge operations, instantiated for one effect class so that the processing loop calls
// that effect's hooks directly. Every operation answers the failure value (0) rather than
// letting an exception out towards the host.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <new>

#include "adapter/vest.h"
#include "runtime/vest_services.h"
#include "runtime/bridge.h"
#include "runtime/text.h"
#include "runtime/vintrel.h"

namespace vintrel {

// Text buffers hosts hand over without their size. Names and labels get more room than the
// smallest published sizes, as hosts in use give; the program name keeps the published 24.
constexpr std::size_t kEffectTextCapacity = 64;
constexpr std::size_t kProgramNameCapacity = kVstMaxProgNameLen;
constexpr std::size_t kParameterTextCapacity = 32;

template <class Effect>
Effect* effectOf(CVeST* adapter) {
    return adapter != nullptr ? static_cast<Effect*>(adapter->Effect) : nullptr;
}

// How many channels processing moves, fixed once per process and precision.
template <class Sample>
std::int32_t cachedInputCount(CVeST* adapter) {
    static const std::int32_t count = adapter->getAeffect()->numInputs;
    return count;
}

// Moves one block through the effect frame by frame: inputs into Samples, DoSample, Samples
// out. Each frame is read whole before it is written, so in-place buffers work.
template <class Effect, class Sample>
void processBlock(CVeST* adapter, Sample** inputs, Sample** outputs, std::int32_t sampleFrames) {
    Effect* fx = effectOf<Effect>(adapter);
    if (fx == nullptr) return;
    std::int32_t n = cachedInputCount<Sample>(adapter);
    if (n > 64) n = 64;  // Samples holds 64 channels at most
    fx->DoBlock();
    if (sampleFrames <= 0) return;
    if (n > 0) {
        if (inputs == nullptr || outputs == nullptr) return;
        for (std::int32_t k = 0; k < n; ++k)
            if (inputs[k] == nullptr || outputs[k] == nullptr) return;
    }
    // An effect with a block routine for its own channel count decodes the block at once;
    // whatever it leaves goes frame by frame.
    std::int32_t first = 0;
    if constexpr (requires(Effect & e, Sample* const* p) {
                      { e.DoSampleBlock(p, p, std::int32_t{}) } -> std::same_as<std::int32_t>;
                  }) {
        if (n == fx->Channels) first = fx->DoSampleBlock(inputs, outputs, sampleFrames);
    }
    double* samples = fx->Samples.data();
    if (n == 2) {
        const Sample* in0 = inputs[0];
        const Sample* in1 = inputs[1];
        Sample* out0 = outputs[0];
        Sample* out1 = outputs[1];
        for (std::int32_t j = first; j < sampleFrames; ++j) {
            samples[0] = static_cast<double>(in0[j]);
            samples[1] = static_cast<double>(in1[j]);
            fx->DoSample();
            out0[j] = static_cast<Sample>(samples[0]);
            out1[j] = static_cast<Sample>(samples[1]);
        }
        return;
    }
    for (std::int32_t j = first; j < sampleFrames; ++j) {
        for (std::int32_t k = n - 1; k >= 0; --k) samples[k] = static_cast<double>(inputs[k][j]);
        fx->DoSample();
        for (std::int32_t k = n - 1; k >= 0; --k) outputs[k][j] = static_cast<Sample>(samples[k]);
    }
}

template <class Effect>
struct BridgeOperations {
    static void OnCreate(CVeST* adapter) {
        Effect* fx = effectOf<Effect>(adapter);
        if (fx == nullptr) return;
        // The effect's VeST is not set yet: push through the adapter we are given.
        VeSTSetNumInputs(adapter, fx->Channels);
        VeSTSetNumOutputs(adapter, fx->Channels);
        VeSTSetUniqueID(adapter, fx->UniqueId);
        VeSTProgramsAreChunks(adapter, true);
    }
    static void OnDestroy(CVeST* adapter) {
        Effect* fx = effectOf<Effect>(adapter);
        if (fx == nullptr) return;
        adapter->Effect = nullptr;
        delete fx;
    }
    static void OnOpen(CVeST* adapter) {
        if (Effect* fx = effectOf<Effect>(adapter)) try {
                fx->DoReset();
            } catch (const std::bad_alloc&) {
            }
    }
    static void OnSuspend(CVeST* adapter) {
        if (Effect* fx = effectOf<Effect>(adapter)) fx->DoSuspend();
    }
    static void OnResume(CVeST* adapter) {
        if (Effect* fx = effectOf<Effect>(adapter)) fx->DoResume();
    }
    static void OnIdle(CVeST* adapter) {
        if (Effect* fx = effectOf<Effect>(adapter)) fx->DoIdle();
    }
    static void OnClose(CVeST* adapter) {
        if (Effect* fx = effectOf<Effect>(adapter)) fx->DoClose();
    }
    static std::int32_t GetVendorVersion(CVeST* adapter) {
        Effect* fx = effectOf<Effect>(adapter);
        return fx ? fx->VendorVersion : 0;
    }
    static std::int32_t copyText(const std::string& text, char* buffer, std::size_t capacity) {
        if (buffer == nullptr) return 0;
        copyBounded(buffer, text, capacity);
        return 1;
    }
    static std::int32_t GetVendorString(CVeST* adapter, char* buffer) {
        Effect* fx = effectOf<Effect>(adapter);
        return fx ? copyText(fx->VendorString, buffer, kEffectTextCapacity) : 0;
    }
    static std::int32_t GetProductString(CVeST* adapter, char* buffer) {
        Effect* fx = effectOf<Effect>(adapter);
        return fx ? copyText(fx->ProductString, buffer, kEffectTextCapacity) : 0;
    }
    static std::int32_t GetEffectName(CVeST* adapter, char* buffer) {
        Effect* fx = effectOf<Effect>(adapter);
        return fx ? copyText(fx->EffectName, buffer, kEffectTextCapacity) : 0;
    }
    static std::int32_t GetProgramName(CVeST* adapter, char* buffer) {
        Effect* fx = effectOf<Effect>(adapter);
        return fx ? copyText(fx->ProgramName, buffer, kProgramNameCapacity) : 0;
    }
    static void SetProgramName(CVeST* adapter, const char* text) {
        Effect* fx = effectOf<Effect>(adapter);
        if (fx == nullptr || text == nullptr) return;
        try {
            fx->ProgramName = text;  // on failure the old name stays
        } catch (const std::bad_alloc&) {
        }
    }
    static std::int32_t GetProgramNameIndexed(CVeST*, std::int32_t, std::int32_t, char*) { return 0; }
    static double GetParameter(CVeST* adapter, std::int32_t index) {
        Effect* fx = effectOf<Effect>(adapter);
        return fx ? fx->GetNormalized(index) : 0.0;
    }
    static void SetParameter(CVeST* adapter, std::int32_t index, double value) {
        if (Effect* fx = effectOf<Effect>(adapter)) fx->SetNormalized(index, value);
    }
    static void GetParameterName(CVeST* adapter, std::int32_t index, char* buffer) {
        Effect* fx = effectOf<Effect>(adapter);
        const CVintrelSlider* row = fx ? fx->SliderAt(index) : nullptr;
        if (row) copyText(row->Name, buffer, kParameterTextCapacity);
    }
    static void GetParameterLabel(CVeST* adapter, std::int32_t index, char* buffer) {
        Effect* fx = effectOf<Effect>(adapter);
        const CVintrelSlider* row = fx ? fx->SliderAt(index) : nullptr;
        if (row) copyText(row->Label, buffer, kParameterTextCapacity);
    }
    static void GetParameterDisplay(CVeST* adapter, std::int32_t index, char* buffer) {
        if (Effect* fx = effectOf<Effect>(adapter)) fx->DisplayText(index, buffer, kParameterTextCapacity);
    }
    static void ProcessReplacing(CVeST* adapter, float** inputs, float** outputs, std::int32_t frames) {
        processBlock<Effect, float>(adapter, inputs, outputs, frames);
    }
    static void ProcessDoubleReplacing(CVeST* adapter, double** inputs, double** outputs, std::int32_t frames) {
        processBlock<Effect, double>(adapter, inputs, outputs, frames);
    }
    static std::int32_t GetChunk(CVeST* adapter, void** data, std::int32_t isPreset) {
        Effect* fx = effectOf<Effect>(adapter);
        if (fx == nullptr || data == nullptr) return 0;
        try {
            return fx->SaveState(data, isPreset != 0);
        } catch (const std::bad_alloc&) {
            return 0;
        }
    }
    static std::int32_t SetChunk(CVeST* adapter, void* data, std::int32_t byteSize, std::int32_t isPreset) {
        Effect* fx = effectOf<Effect>(adapter);
        if (fx == nullptr || data == nullptr) return 0;
        try {
            return fx->LoadState(data, byteSize, isPreset != 0);
        } catch (const std::bad_alloc&) {
            return 0;
        }
    }
};

template <class Effect>
VeSTBridge makeBridge() {
    using Ops = BridgeOperations<Effect>;
    VeSTBridge bridge;
    bridge.OnCreate = Ops::OnCreate;
    bridge.OnDestroy = Ops::OnDestroy;
    bridge.OnOpen = Ops::OnOpen;
    bridge.OnSuspend = Ops::OnSuspend;
    bridge.OnResume = Ops::OnResume;
    bridge.OnIdle = Ops::OnIdle;
    bridge.OnClose = Ops::OnClose;
    bridge.GetVendorVersion = Ops::GetVendorVersion;
    bridge.GetVendorString = Ops::GetVendorString;
    bridge.GetProductString = Ops::GetProductString;
    bridge.GetEffectName = Ops::GetEffectName;
    bridge.GetProgramName = Ops::GetProgramName;
    bridge.SetProgramName = Ops::SetProgramName;
    bridge.GetProgramNameIndexed = Ops::GetProgramNameIndexed;
    bridge.GetParameter = Ops::GetParameter;
    bridge.SetParameter = Ops::SetParameter;
    bridge.GetParameterName = Ops::GetParameterName;
    bridge.GetParameterLabel = Ops::GetParameterLabel;
    bridge.GetParameterDisplay = Ops::GetParameterDisplay;
    bridge.ProcessReplacing = Ops::ProcessReplacing;
    bridge.ProcessDoubleReplacing = Ops::ProcessDoubleReplacing;
    bridge.GetChunk = Ops::GetChunk;
    bridge.SetChunk = Ops::SetChunk;
    return bridge;
}

// The entry's steps: effect, adapter around it, link back. Null when the host refuses
// (answers 0 to its version request) or memory runs out; nothing stays allocated then.
template <class Effect>
AEffect* createInstance(audioMasterCallback audioMaster) noexcept {
    try {
        const VeSTBridge bridge = makeBridge<Effect>();
        Effect* fx = new Effect;
        const auto numParams = static_cast<VstInt32>(fx->SliderInfos.size());
        CVeST* adapter = nullptr;
        try {
            adapter = CVeST::Create(fx, bridge, audioMaster, 1, numParams);
        } catch (...) {
            delete fx;
            throw;
        }
        fx->VeST = adapter;
        if (adapter == nullptr) {
            delete fx;
            return nullptr;
        }
        return adapter->getAeffect();
    } catch (...) {
        return nullptr;
    }
}

}  // namespace vintrel
