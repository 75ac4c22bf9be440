// The LV2 plug-in: ports in, the embedded VST 2 record of the decoder inside. Control values
// are applied once per run, only those that changed, as a VST 2 host's parameter sets; the
// latency of the DI's alignment goes out on its port at every run. The state holds what no port
// can: the DI's tone match curve.
#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "entry/embedded_decoder.h"
#include "lv2/lv2_instance.h"
#include "lv2/lv2_ports.h"

namespace {

using vintrel::EmbeddedDecoder;
namespace ports = vintrel::lv2;

using ports::kParameterCount;
using ports::Lv2Decoder;
// A control port per parameter up to the bypass, which has its own ("enabled"), then the match.
static_assert(kParameterCount == vintrel::kBypass && vintrel::kDiMatch == vintrel::kBypass + 1 &&
              EmbeddedDecoder::parameters().size() == kParameterCount + 2);

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

LV2_Handle instantiate(const LV2_Descriptor*, double rate, const char*, const LV2_Feature* const* features) {
    try {
        auto plugin = std::make_unique<Lv2Decoder>();
        for (int i = 0; features != nullptr && features[i] != nullptr; ++i)
            if (std::strcmp(features[i]->URI, LV2_URID__map) == 0 && features[i]->data != nullptr) {
                const auto* map = static_cast<const LV2_URID_Map*>(features[i]->data);
                plugin->curveKey = map->map(map->handle, ports::kToneCurveUri);
                plugin->chunkType = map->map(map->handle, LV2_ATOM__Chunk);
            }
        // No feature tells the block size; nothing in the decoder depends on it.
        plugin->decoder = EmbeddedDecoder::create(rate, 8192);
        plugin->meters.diInputs.setSampleRate(rate);
        return plugin->decoder ? plugin.release() : nullptr;
    } catch (...) {
        return nullptr;
    }
}

void connectPort(LV2_Handle handle, uint32_t port, void* data) {
    auto* plugin = static_cast<Lv2Decoder*>(handle);
    if (port < ports::kControls)
        plugin->audio[port] = static_cast<float*>(data);
    else if (port - ports::kControls < kParameterCount)
        plugin->controls[port - ports::kControls] = static_cast<const float*>(data);
    else if (port == ports::kLatencyPort)
        plugin->latency = static_cast<float*>(data);
    else if (port == ports::kEnabledPort)
        plugin->enabled = static_cast<const float*>(data);
    else if (port == ports::kMatchPort)
        plugin->match = static_cast<const float*>(data);
}

void activate(LV2_Handle handle) {
    auto* plugin = static_cast<Lv2Decoder*>(handle);
    plugin->decoder->resume();
}

void run(LV2_Handle handle, uint32_t frames) {
    auto* plugin = static_cast<Lv2Decoder*>(handle);
    for (std::size_t i = 0; i < kParameterCount; ++i) {
        const float* control = plugin->controls[i];
        if (control == nullptr) continue;
        const float v = *control;
        if (plugin->appliedAny && sameBits(v, plugin->applied[i])) continue;
        plugin->decoder->setValue(static_cast<std::int32_t>(i), v);  // a NaN changes nothing
        plugin->applied[i] = v;
    }
    if (plugin->enabled != nullptr && !sameBits(*plugin->enabled, plugin->appliedEnabled)) {
        plugin->appliedEnabled = *plugin->enabled;
        if (!std::isnan(plugin->appliedEnabled))
            plugin->decoder->setValue(vintrel::kBypass, plugin->appliedEnabled < 0.5f ? 1.0 : 0.0);
    }
    if (plugin->match != nullptr && (!plugin->appliedAny || !sameBits(*plugin->match, plugin->appliedMatch))) {
        plugin->appliedMatch = *plugin->match;
        plugin->decoder->setValue(vintrel::kDiMatch, plugin->appliedMatch);
    }
    plugin->appliedAny = true;
    if (plugin->latency != nullptr) *plugin->latency = static_cast<float>(plugin->decoder->latency());
    for (float* buffer : plugin->audio)
        if (buffer == nullptr) return;
    float* const* audio = plugin->audio;
    const auto n = static_cast<std::int32_t>(frames > 0x7fffffff ? 0x7fffffff : frames);
    plugin->meters.beforeBlock(audio + ports::kAudioInputs, n);
    plugin->decoder->processSpan(audio + ports::kAudioInputs, audio + ports::kAudioOutputs, 0, n, n, nullptr);
    plugin->meters.afterBlock(audio + ports::kAudioOutputs, n);
}

void deactivate(LV2_Handle handle) { static_cast<Lv2Decoder*>(handle)->decoder->suspend(); }

void cleanup(LV2_Handle handle) { delete static_cast<Lv2Decoder*>(handle); }

// The state: the tone match's curve as a chunk of the bytes the other formats' states hold.
LV2_State_Status saveState(LV2_Handle handle, LV2_State_Store_Function store, LV2_State_Handle state, uint32_t,
                           const LV2_Feature* const*) {
    auto* plugin = static_cast<Lv2Decoder*>(handle);
    if (plugin->curveKey == 0) return LV2_STATE_ERR_NO_FEATURE;
    try {
        const std::vector<std::uint8_t> bytes = EmbeddedDecoder::curveBytes(plugin->decoder->toneCurve());
        return store(state, plugin->curveKey, bytes.data(), bytes.size(), plugin->chunkType,
                     LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE);
    } catch (...) {
        return LV2_STATE_ERR_UNKNOWN;
    }
}

// A state without a curve (or with one of another shape) is one with no match.
LV2_State_Status restoreState(LV2_Handle handle, LV2_State_Retrieve_Function retrieve, LV2_State_Handle state,
                              uint32_t, const LV2_Feature* const*) {
    auto* plugin = static_cast<Lv2Decoder*>(handle);
    if (plugin->curveKey == 0) return LV2_STATE_ERR_NO_FEATURE;
    std::size_t size = 0;
    std::uint32_t type = 0, flags = 0;
    const void* data = retrieve(state, plugin->curveKey, &size, &type, &flags);
    align::ToneCurve curve;
    if (data == nullptr || type != plugin->chunkType ||
        !EmbeddedDecoder::curveFromBytes(static_cast<const std::uint8_t*>(data), size, curve))
        curve = {};
    plugin->decoder->setToneCurve(curve);
    return LV2_STATE_SUCCESS;
}

const LV2_State_Interface kStateInterface = {saveState, restoreState};

const void* extensionData(const char* uri) {
    return uri != nullptr && std::strcmp(uri, LV2_STATE__interface) == 0 ? &kStateInterface : nullptr;
}

const LV2_Descriptor kDescriptor = {ports::kUri, instantiate, connectPort, activate, run, deactivate, cleanup,
                                    extensionData};

}  // namespace

extern "C" __attribute__((visibility("default"))) const LV2_Descriptor* lv2_descriptor(uint32_t index) {
    return index == 0 ? &kDescriptor : nullptr;
}
