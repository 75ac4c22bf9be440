// The CLAP plug-in: one descriptor, one three-channel port each way, the decoder's eleven
// parameters and the DI's alignment with sample-accurate events, the state through the host's
// streams, and the alignment's latency, all on the embedded VST 2 record of the decoder.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "clap/clap_api.h"
#include "clap/clap_editor.h"
#include "clap/clap_identity.h"
#include "clap/clap_presets.h"
#include "entry/embedded_decoder.h"
#include "entry/plugin_identity.h"
#include "entry/subnormals.h"
#include "entry/state_stream.h"

namespace {

using vintrel::EmbeddedDecoder;

using clapidentity::kPluginId;
constexpr std::uint32_t kChannels = EmbeddedDecoder::kChannels;

const char* const kFeatures[] = {"audio-effect", "stereo", "utility", "mixing", nullptr};

const clap_plugin_descriptor_t kDescriptor = {
    CLAP_VERSION,
    kPluginId,
    "Brelvander_3-channel acoustic guit decoder MS + DI",
    clapidentity::kVendor,
    vintrel::kHomepage,
    vintrel::kManualUrl,
    vintrel::kSupportUrl,
    VINTREL_VERSION,
    "Decodes a three-channel acoustic guitar take (mid microphone, side microphone, DI pickup) into a "
    "stereo pair, with the DI alone on a third output when routed there.",
    kFeatures,
};

struct ClapDecoder {
    clap_plugin_t plugin{};
    const clap_host_t* host = nullptr;
    std::unique_ptr<EmbeddedDecoder> decoder;
    clapeditor::EditorState editor;  // closed before the decoder goes
    // The latency the host was told at activation, and whether a restart was asked for since.
    std::atomic<std::uint32_t> reportedLatency{0};
    std::atomic<bool> restartAsked{false};
    std::atomic<bool> active{false};  // inactive, activation tells the host the latency itself
    std::int64_t silentFrames = 0;    // of input since the last sound, on the audio thread
};

ClapDecoder& self(const clap_plugin_t* plugin) { return *static_cast<ClapDecoder*>(plugin->plugin_data); }

}  // namespace

clapeditor::EditorState& clapeditor::editorOf(const clap_plugin_t* plugin) { return self(plugin).editor; }

namespace {

// Parameter ids are the VST 2 parameter indices: stable, and the order hosts show.
std::int32_t parameterOf(clap_id id) {
    return id < EmbeddedDecoder::parameters().size() ? static_cast<std::int32_t>(id) : -1;
}

// A host's value, unless the editor has changed that parameter since and the host has not yet
// heard of it: then the host's value is the older one.
void applyEvent(ClapDecoder& d, const clap_event_header_t* event) {
    if (event == nullptr || event->space_id != CLAP_CORE_EVENT_SPACE_ID || event->type != CLAP_EVENT_PARAM_VALUE ||
        event->size < sizeof(clap_event_param_value_t))
        return;
    const auto* change = reinterpret_cast<const clap_event_param_value_t*>(event);
    const std::int32_t parameter = parameterOf(change->param_id);
    if (parameter >= 0 && !d.editor.hostValueIsStale(parameter)) d.decoder->setValue(parameter, change->value);
}

VstTimeInfo timeInfoOf(const clap_event_transport_t& t) {
    VstTimeInfo info{};
    if (t.flags & CLAP_TRANSPORT_HAS_TEMPO) {
        info.tempo = t.tempo;
        info.flags |= kVstTempoValid;
    }
    if (t.flags & CLAP_TRANSPORT_HAS_BEATS_TIMELINE) {
        info.ppqPos = static_cast<double>(t.song_pos_beats) / static_cast<double>(CLAP_BEATTIME_FACTOR);
        info.flags |= kVstPpqPosValid;
    }
    if (t.flags & CLAP_TRANSPORT_HAS_TIME_SIGNATURE) {
        info.timeSigNumerator = t.tsig_num;
        info.timeSigDenominator = t.tsig_denom;
        info.flags |= kVstTimeSigValid;
    }
    if (t.flags & CLAP_TRANSPORT_IS_PLAYING) info.flags |= kVstTransportPlaying;
    if (t.flags & CLAP_TRANSPORT_IS_RECORDING) info.flags |= kVstTransportRecording;
    return info;
}

// A latency may change only while the plug-in is inactive: a new one asks the host to
// deactivate and activate again, once (thread-safe, from any thread).
void askRestartOnNewLatency(ClapDecoder& d) {
    if (!d.active || d.decoder->latency() == static_cast<std::int32_t>(d.reportedLatency.load()) || d.host == nullptr ||
        d.host->request_restart == nullptr || d.restartAsked.exchange(true))
        return;
    d.host->request_restart(d.host);
}

// The plug-in.

bool init(const clap_plugin_t*) { return true; }

void destroy(const clap_plugin_t* plugin) { delete &self(plugin); }

bool activate(const clap_plugin_t* plugin, double rate, std::uint32_t, std::uint32_t maxFrames) {
    ClapDecoder& d = self(plugin);
    d.decoder->setSampleRate(rate);
    d.editor.meters.diInputs.setSampleRate(rate);
    (void)maxFrames;  // nothing depends on the block size
    d.decoder->resume();
    d.restartAsked = false;
    d.active = true;
    const auto latency = static_cast<std::uint32_t>(d.decoder->latency());
    if (latency != d.reportedLatency) {
        d.reportedLatency = latency;
        const auto* hostLatency = d.host && d.host->get_extension
                                      ? static_cast<const clap_host_latency_t*>(d.host->get_extension(d.host, CLAP_EXT_LATENCY))
                                      : nullptr;
        if (hostLatency != nullptr && hostLatency->changed != nullptr) hostLatency->changed(d.host);
    }
    return true;
}

void deactivate(const clap_plugin_t* plugin) {
    self(plugin).active = false;
    self(plugin).decoder->suspend();
}
bool startProcessing(const clap_plugin_t* plugin) {
    self(plugin).editor.processing = true;
    return true;
}
void stopProcessing(const clap_plugin_t* plugin) { self(plugin).editor.processing = false; }
void reset(const clap_plugin_t* plugin) { self(plugin).silentFrames = 0; }

// A bit for each of these channels whose every sample is zero (of either sign); a channel the
// host marks constant is read once.
template <class Sample>
std::uint64_t zeroChannels(Sample* const* channels, std::uint64_t constant, std::uint32_t frames) {
    std::uint64_t zero = 0;
    for (std::uint32_t k = 0; k < kChannels; ++k) {
        const std::uint32_t n = (constant >> k & 1) != 0 ? std::min<std::uint32_t>(frames, 1) : frames;
        if (vintrel::allZero(channels[k], static_cast<std::int32_t>(n))) zero |= std::uint64_t{1} << k;
    }
    return zero;
}

// After a block: the outputs that are all zero marked constant, and the host told whether the
// plug-in may sleep. Silent inputs sleep at once when the alignment keeps no past; with a past,
// they play it out first (the tail), then sleep. The outputs' bits are what the block made.
// (The inputs are looked at before the block: the outputs may be the same buffers.)
constexpr std::uint64_t kAllChannels = (std::uint64_t{1} << kChannels) - 1;

bool inputsSilent(const clap_process_t* process, bool doubles) {
    const clap_audio_buffer_t& in = process->audio_inputs[0];
    const std::uint32_t frames = process->frames_count;
    return (doubles ? zeroChannels(in.data64, in.constant_mask, frames) : zeroChannels(in.data32, in.constant_mask, frames)) ==
           kAllChannels;
}

clap_process_status statusAfter(ClapDecoder& d, const clap_process_t* process, bool doubles, bool silentInputs) {
    clap_audio_buffer_t& out = process->audio_outputs[0];
    const std::uint32_t frames = process->frames_count;
    out.constant_mask = doubles ? zeroChannels(out.data64, 0, frames) : zeroChannels(out.data32, 0, frames);
    if (!silentInputs) {
        d.silentFrames = 0;
        return CLAP_PROCESS_CONTINUE;
    }
    d.silentFrames += frames;
    if (d.decoder->keepsNoPast() || d.silentFrames > d.decoder->tailFrames(true)) return CLAP_PROCESS_SLEEP;
    return CLAP_PROCESS_TAIL;
}

clap_process_status processBlock(const clap_plugin_t* plugin, const clap_process_t* process) {
    ClapDecoder& d = self(plugin);
    if (process == nullptr) return CLAP_PROCESS_ERROR;
    const clap_input_events_t* events = process->in_events;
    const std::uint32_t count = events != nullptr ? events->size(events) : 0;
    const std::uint32_t frames = process->frames_count;
    const VstTimeInfo time = process->transport ? timeInfoOf(*process->transport) : VstTimeInfo{};
    const VstTimeInfo* transport = process->transport ? &time : nullptr;

    const bool hasAudio = process->audio_inputs_count >= 1 && process->audio_outputs_count >= 1 &&
                          process->audio_inputs[0].channel_count >= kChannels &&
                          process->audio_outputs[0].channel_count >= kChannels;
    const clap_audio_buffer_t* in = hasAudio ? &process->audio_inputs[0] : nullptr;
    const clap_audio_buffer_t* out = hasAudio ? &process->audio_outputs[0] : nullptr;
    const bool doubles = hasAudio && in->data64 != nullptr && out->data64 != nullptr && out->data32 == nullptr;
    const bool floats = hasAudio && !doubles && in->data32 != nullptr && out->data32 != nullptr;

    const bool silentInputs = (doubles || floats) && inputsSilent(process, doubles);
    if (doubles) d.editor.meters.beforeBlock(in->data64, static_cast<std::int32_t>(frames));
    if (floats) d.editor.meters.beforeBlock(in->data32, static_cast<std::int32_t>(frames));
    // Each event acts from its own frame: the block is decoded in spans between events.
    std::uint32_t done = 0;
    auto decodeUpTo = [&](std::uint32_t frame) {
        if (frame <= done) return;
        const auto from = static_cast<std::int32_t>(done), to = static_cast<std::int32_t>(frame);
        const auto all = static_cast<std::int32_t>(frames);
        if (doubles) d.decoder->processSpan(in->data64, out->data64, from, to, all, transport);
        if (floats) d.decoder->processSpan(in->data32, out->data32, from, to, all, transport);
        done = frame;
    };
    for (std::uint32_t i = 0; i < count; ++i) {
        const clap_event_header_t* event = events->get(events, i);
        if (event == nullptr) continue;
        decodeUpTo(std::min(event->time, frames));
        applyEvent(d, event);
    }
    decodeUpTo(frames);
    if (doubles) d.editor.meters.afterBlock(out->data64, static_cast<std::int32_t>(frames));
    if (floats) d.editor.meters.afterBlock(out->data32, static_cast<std::int32_t>(frames));
    clapeditor::tellHost(d.editor, process->out_events);
    askRestartOnNewLatency(d);
    return doubles || floats ? statusAfter(d, process, doubles, silentInputs) : CLAP_PROCESS_CONTINUE;
}

// Audio ports: one of three channels each way, the same channels as the other formats.

std::uint32_t portCount(const clap_plugin_t*, bool) { return 1; }

bool portInfo(const clap_plugin_t*, std::uint32_t index, bool isInput, clap_audio_port_info_t* info) {
    if (index != 0 || info == nullptr) return false;
    *info = {};
    info->id = isInput ? 0 : 1;
    std::snprintf(info->name, sizeof info->name, "%s",
                  isInput ? "mid, side, DI" : "left, right, DI alone");
    info->flags = CLAP_AUDIO_PORT_IS_MAIN | CLAP_AUDIO_PORT_SUPPORTS_64BITS;
    info->channel_count = kChannels;
    info->port_type = nullptr;  // three channels of their own kind, no standard layout
    info->in_place_pair = isInput ? 1 : 0;
    return true;
}

const clap_plugin_audio_ports_t kAudioPorts = {portCount, portInfo};

// Parameters.

std::uint32_t paramCount(const clap_plugin_t*) {
    return static_cast<std::uint32_t>(EmbeddedDecoder::parameters().size());
}

bool paramInfo(const clap_plugin_t*, std::uint32_t index, clap_param_info_t* info) {
    const std::int32_t parameter = parameterOf(index);
    if (parameter < 0 || info == nullptr) return false;
    const decoder::Parameter& row = EmbeddedDecoder::parameters()[index];
    *info = {};
    info->id = index;
    info->flags = CLAP_PARAM_IS_AUTOMATABLE | (row.isSwitch() ? CLAP_PARAM_IS_STEPPED | CLAP_PARAM_IS_ENUM : 0) |
                  (parameter == vintrel::kBypass ? CLAP_PARAM_IS_BYPASS : 0u);
    std::snprintf(info->name, sizeof info->name, "%s", row.name);
    info->min_value = row.min;
    info->max_value = row.max;
    info->default_value = row.defaultValue;
    return true;
}

bool paramValue(const clap_plugin_t* plugin, clap_id id, double* value) {
    const std::int32_t parameter = parameterOf(id);
    if (parameter < 0 || value == nullptr) return false;
    *value = self(plugin).decoder->value(parameter);
    return true;
}

bool valueToText(const clap_plugin_t*, clap_id id, double value, char* buffer, std::uint32_t capacity) {
    const std::int32_t parameter = parameterOf(id);
    if (parameter < 0 || buffer == nullptr || capacity == 0) return false;
    try {
        std::string text = EmbeddedDecoder::textFor(parameter, value);
        const std::string unit = EmbeddedDecoder::parameters()[id].unit;
        if (!unit.empty()) text += " " + unit;
        std::snprintf(buffer, capacity, "%s", text.c_str());
        return true;
    } catch (...) {
        return false;
    }
}

bool textToValue(const clap_plugin_t*, clap_id id, const char* text, double* value) {
    const std::int32_t parameter = parameterOf(id);
    if (parameter < 0 || value == nullptr) return false;
    try {
        return EmbeddedDecoder::valueFor(parameter, text, *value);
    } catch (...) {
        return false;
    }
}

void flush(const clap_plugin_t* plugin, const clap_input_events_t* in, const clap_output_events_t* out) {
    const std::uint32_t count = in != nullptr ? in->size(in) : 0;
    for (std::uint32_t i = 0; i < count; ++i) applyEvent(self(plugin), in->get(in, i));
    clapeditor::tellHost(self(plugin).editor, out);
    askRestartOnNewLatency(self(plugin));
}

const clap_plugin_params_t kParams = {paramCount, paramInfo, paramValue, valueToText, textToValue, flush};

// State: the decoder's chunk, through streams that may move fewer bytes per call than asked.

// A state into the decoder, the host told of the new values and of a new latency.
bool loadChunk(const clap_plugin_t* plugin, const std::vector<std::uint8_t>& chunk) {
    const bool loaded = self(plugin).decoder->loadState(chunk.data(), chunk.size());
    const clap_host_t* host = self(plugin).host;
    if (loaded && host != nullptr && host->get_extension != nullptr) {
        const auto* hostParams = static_cast<const clap_host_params_t*>(host->get_extension(host, CLAP_EXT_PARAMS));
        if (hostParams != nullptr && hostParams->rescan != nullptr) hostParams->rescan(host, CLAP_PARAM_RESCAN_VALUES);
    }
    if (loaded) askRestartOnNewLatency(self(plugin));
    return loaded;
}

bool saveState(const clap_plugin_t* plugin, const clap_ostream_t* stream) {
    if (stream == nullptr) return false;
    try {
        const std::vector<std::uint8_t> chunk = self(plugin).decoder->saveState();
        return !chunk.empty() && vintrel::writeWholeState(
                                     [stream](const std::uint8_t* data, std::size_t size) {
                                         return stream->write(stream, data, size);
                                     },
                                     chunk);
    } catch (...) {
        return false;
    }
}

bool loadState(const clap_plugin_t* plugin, const clap_istream_t* stream) {
    if (stream == nullptr) return false;
    try {
        std::vector<std::uint8_t> chunk;
        const bool whole = vintrel::readWholeState(
            [stream](std::uint8_t* buffer, std::size_t capacity) { return stream->read(stream, buffer, capacity); },
            chunk);
        if (!whole || !vintrel::looksLikeAState(chunk)) return false;
        return loadChunk(plugin, chunk);
    } catch (...) {
        return false;
    }
}

const clap_plugin_state_t kState = {saveState, loadState};

// Preset-load: a factory preset by its key, loaded as its state is, the bypass kept as the host
// set it (a preset is a sound, not a soft bypass); the host hears of it either way.
bool presetFromLocation(const clap_plugin_t* plugin, std::uint32_t kind, const char* location, const char* key) {
    const clap_host_t* host = self(plugin).host;
    const auto* hostPresets = host != nullptr && host->get_extension != nullptr
                                  ? static_cast<const clap_host_preset_load_t*>(host->get_extension(host, CLAP_EXT_PRESET_LOAD))
                                  : nullptr;
    if (hostPresets == nullptr && host != nullptr && host->get_extension != nullptr)
        hostPresets = static_cast<const clap_host_preset_load_t*>(host->get_extension(host, CLAP_EXT_PRESET_LOAD_COMPAT));
    try {
        std::string error;
        const vintrel::FactoryPreset* preset = clappresets::presetAt(kind, location, key, error);
        const bool bypassed = self(plugin).decoder->value(vintrel::kBypass) != 0;
        const std::vector<std::uint8_t> state =
            preset != nullptr ? EmbeddedDecoder::stateOf(*preset, bypassed) : std::vector<std::uint8_t>{};
        if (preset != nullptr && state.empty()) error = "out of memory";
        if (error.empty() && !loadChunk(plugin, state)) error = "the preset's state did not load";
        if (!error.empty()) {
            if (hostPresets != nullptr && hostPresets->on_error != nullptr)
                hostPresets->on_error(host, kind, location, key, 0, error.c_str());
            return false;
        }
        if (hostPresets != nullptr && hostPresets->loaded != nullptr) hostPresets->loaded(host, kind, location, key);
        return true;
    } catch (...) {
        return false;
    }
}

const clap_plugin_preset_load_t kPresetLoad = {presetFromLocation};

std::uint32_t latencyOf(const clap_plugin_t* plugin) { return self(plugin).reportedLatency; }
const clap_plugin_latency_t kLatency = {latencyOf};
// What may still sound once the inputs fall silent: the alignment's reach.
std::uint32_t tailOf(const clap_plugin_t* plugin) {
    return static_cast<std::uint32_t>(std::min<std::int64_t>(self(plugin).decoder->tailFrames(), INT32_MAX));
}
const clap_plugin_tail_t kTail = {tailOf};

const void* getExtension(const clap_plugin_t*, const char* id) {
    if (id == nullptr) return nullptr;
    if (std::strcmp(id, CLAP_EXT_AUDIO_PORTS) == 0) return &kAudioPorts;
    if (std::strcmp(id, CLAP_EXT_PARAMS) == 0) return &kParams;
    if (std::strcmp(id, CLAP_EXT_STATE) == 0) return &kState;
    if (std::strcmp(id, CLAP_EXT_PRESET_LOAD) == 0 || std::strcmp(id, CLAP_EXT_PRESET_LOAD_COMPAT) == 0) return &kPresetLoad;
    if (std::strcmp(id, CLAP_EXT_LATENCY) == 0) return &kLatency;
    if (std::strcmp(id, CLAP_EXT_TAIL) == 0) return &kTail;
    if (std::strcmp(id, CLAP_EXT_GUI) == 0) return &clapeditor::kGui;
    if (std::strcmp(id, CLAP_EXT_TIMER_SUPPORT) == 0) return &clapeditor::kTimerSupport;
    if (std::strcmp(id, CLAP_EXT_POSIX_FD_SUPPORT) == 0) return &clapeditor::kPosixFdSupport;
    if (std::strcmp(id, CLAP_EXT_CONTEXT_MENU) == 0 || std::strcmp(id, CLAP_EXT_CONTEXT_MENU_COMPAT) == 0)
        return &clapeditor::kContextMenu;
    return nullptr;
}

void onMainThread(const clap_plugin_t*) {}

// The factory and the entry.

std::uint32_t pluginCount(const clap_plugin_factory_t*) { return 1; }

const clap_plugin_descriptor_t* pluginDescriptor(const clap_plugin_factory_t*, std::uint32_t index) {
    return index == 0 ? &kDescriptor : nullptr;
}

const clap_plugin_t* createPlugin(const clap_plugin_factory_t*, const clap_host_t* host, const char* id) {
    if (host == nullptr || id == nullptr || std::strcmp(id, kPluginId) != 0) return nullptr;
    try {
        auto d = std::make_unique<ClapDecoder>();
        d->host = host;
        d->decoder = EmbeddedDecoder::create(48000.0, 8192);
        if (!d->decoder) return nullptr;
        d->editor.host = host;
        d->editor.decoder = d->decoder.get();
        d->plugin = {&kDescriptor, d.get(), init, destroy, activate, deactivate, startProcessing, stopProcessing,
                     reset, processBlock, getExtension, onMainThread};
        return &d.release()->plugin;
    } catch (...) {
        return nullptr;
    }
}

const clap_plugin_factory_t kFactory = {pluginCount, pluginDescriptor, createPlugin};

bool entryInit(const char*) {
    try {
        EmbeddedDecoder::identity();
        return true;
    } catch (...) {
        return false;
    }
}
void entryDeinit() {}
const void* entryFactory(const char* id) {
    if (id == nullptr) return nullptr;
    if (std::strcmp(id, CLAP_PLUGIN_FACTORY_ID) == 0) return &kFactory;
    if (std::strcmp(id, CLAP_PRESET_DISCOVERY_FACTORY_ID) == 0 || std::strcmp(id, CLAP_PRESET_DISCOVERY_FACTORY_ID_COMPAT) == 0)
        return &clappresets::kDiscoveryFactory;
    return nullptr;
}

}  // namespace

#if defined(_WIN32)
#define VINTREL_CLAP_EXPORT __declspec(dllexport)
#else
#define VINTREL_CLAP_EXPORT __attribute__((visibility("default")))
#endif

extern "C" VINTREL_CLAP_EXPORT const clap_plugin_entry_t clap_entry = {CLAP_VERSION, entryInit, entryDeinit,
                                                                        entryFactory};
