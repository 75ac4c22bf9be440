// The LV2 plug-in: ports in, the embedded VST 2 record of the decoder inside. Control values
// are applied once per run, only those that changed, as a VST 2 host's parameter sets; the
// latency of the DI's alignment goes out on its port at every run.
#include <lv2/core/lv2.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "entry/embedded_decoder.h"
#include "lv2/lv2_instance.h"
#include "lv2/lv2_ports.h"

namespace {

using vintrel::EmbeddedDecoder;
namespace ports = vintrel::lv2;

using ports::kParameterCount;
using ports::Lv2Decoder;
// A control port per parameter but the bypass, which has its own ("enabled").
static_assert(kParameterCount == vintrel::kBypass && EmbeddedDecoder::parameters().size() == kParameterCount + 1);

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

LV2_Handle instantiate(const LV2_Descriptor*, double rate, const char*, const LV2_Feature* const*) {
    try {
        auto plugin = std::make_unique<Lv2Decoder>();
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

const void* extensionData(const char*) { return nullptr; }

const LV2_Descriptor kDescriptor = {ports::kUri, instantiate, connectPort, activate, run, deactivate, cleanup,
                                    extensionData};

}  // namespace

extern "C" __attribute__((visibility("default"))) const LV2_Descriptor* lv2_descriptor(uint32_t index) {
    return index == 0 ? &kDescriptor : nullptr;
}
