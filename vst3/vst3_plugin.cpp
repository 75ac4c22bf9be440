// The VST 3 plug-in: one object that is component, audio processor and edit controller, one
// three-channel main bus each way, the decoder's eleven automatable parameters and the DI's
// alignment, whose changes act from their sample offset, the state through the host's streams,
// and the alignment's latency, all on the embedded VST 2 record of the decoder.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "entry/embedded_decoder.h"
#include "entry/plugin_identity.h"
#include "entry/state_stream.h"
#include "editor/meters.h"
#include "vst3/vst3_editor.h"
#include "runtime/shared_double.h"
#include "vst3/vst3_api.h"
#include "vst3/vst3_identity.h"

namespace {

using namespace vst3;
using vintrel::EmbeddedDecoder;

constexpr int32 kChannels = static_cast<int32>(EmbeddedDecoder::kChannels);
// More queues than parameters may arrive (for ids we do not have); these many are read.
constexpr int32 kMaxQueues = 64;

void copyUtf16(TChar* to, const std::string& from, std::size_t capacity) {
    std::size_t i = 0;
    for (; i + 1 < capacity && i < from.size(); ++i) to[i] = static_cast<unsigned char>(from[i]);
    to[i] = 0;
}

void copyText(char8* to, const std::string& from, std::size_t capacity) {
    const std::size_t n = std::min(from.size(), capacity - 1);
    std::memcpy(to, from.data(), n);
    to[n] = '\0';
}

constexpr const auto& rows() { return EmbeddedDecoder::parameters(); }

// The factory presets as one program list of the root unit, chosen through a program-change
// parameter after every other one, with an id of its own: the ids before it keep their
// meaning, and parameters appended later keep theirs equal to their index.
constexpr ParamID kProgramChangeId = 100;
constexpr ProgramListID kFactoryListId = 1;
constexpr int32 kPresetCount = static_cast<int32>(vintrel::kFactoryPresets.size());
constexpr int32 kProgramSteps = kPresetCount - 1;

// A host sends program k as k / steps.
int32 programOf(ParamValue normalized) {
    return static_cast<int32>(std::lround(std::clamp(normalized, 0.0, 1.0) * kProgramSteps));
}
ParamValue normalizedProgram(int32 program) { return static_cast<ParamValue>(program) / kProgramSteps; }

bool knownParameter(ParamID id) { return id < rows().size(); }

double plainOf(ParamID id, ParamValue normalized) {
    const auto& row = rows()[id];
    return row.min + std::clamp(normalized, 0.0, 1.0) * (row.max - row.min);
}

double normalizedOf(ParamID id, double plain) {
    const auto& row = rows()[id];
    return std::clamp((plain - row.min) / (row.max - row.min), 0.0, 1.0);
}

VstTimeInfo timeInfoOf(const ProcessContext& c) {
    VstTimeInfo info{};
    info.sampleRate = c.sampleRate;
    if (c.state & ProcessContext::kTempoValid) info.tempo = c.tempo, info.flags |= kVstTempoValid;
    if (c.state & ProcessContext::kProjectTimeMusicValid) info.ppqPos = c.projectTimeMusic, info.flags |= kVstPpqPosValid;
    if (c.state & ProcessContext::kTimeSigValid) {
        info.timeSigNumerator = c.timeSigNumerator;
        info.timeSigDenominator = c.timeSigDenominator;
        info.flags |= kVstTimeSigValid;
    }
    if (c.state & ProcessContext::kPlaying) info.flags |= kVstTransportPlaying;
    if (c.state & ProcessContext::kRecording) info.flags |= kVstTransportRecording;
    return info;
}

// A whole state chunk from a stream, and one to it; false on an error or what is not a state.
bool readState(IBStream* stream, std::vector<std::uint8_t>& bytes) {
    if (stream == nullptr) return false;
    const bool whole = vintrel::readWholeState(
        [stream](std::uint8_t* buffer, std::size_t capacity) -> std::int64_t {
            int32 got = 0;
            return stream->read(buffer, static_cast<int32>(capacity), &got) == kResultOk ? got : -1;
        },
        bytes);
    return whole && vintrel::looksLikeAState(bytes);
}

bool writeState(IBStream* stream, const std::vector<std::uint8_t>& bytes) {
    if (stream == nullptr || bytes.empty()) return false;
    return vintrel::writeWholeState(
        [stream](const std::uint8_t* data, std::size_t size) -> std::int64_t {
            int32 wrote = 0;
            const auto want = static_cast<int32>(std::min<std::size_t>(size, 1 << 20));
            return stream->write(const_cast<std::uint8_t*>(data), want, &wrote) == kResultOk ? wrote : -1;
        },
        bytes);
}

// IComponent and IEditController both have setState and getState of one signature; these two
// give each role its own, as a host calls them once for each role.
class ComponentRole : public IComponent {
public:
    tresult PLUGIN_API setState(IBStream* state) override { return setComponentChunk(state); }
    tresult PLUGIN_API getState(IBStream* state) override { return getComponentChunk(state); }
    virtual tresult setComponentChunk(IBStream* state) = 0;
    virtual tresult getComponentChunk(IBStream* state) = 0;
};
class ControllerRole : public IEditController {
public:
    // The controller keeps nothing of its own: it follows the component's state.
    tresult PLUGIN_API setState(IBStream*) override { return kResultOk; }
    tresult PLUGIN_API getState(IBStream*) override { return kResultOk; }
};

class GuitarDecoderVst3 final : public ComponentRole,
                                public IAudioProcessor,
                                public ControllerRole,
                                public IProcessContextRequirements,
                                public IUnitInfo,
                                public vst3editor::ViewOwner {
public:
    explicit GuitarDecoderVst3(std::unique_ptr<EmbeddedDecoder> d) : decoder(std::move(d)) {
        for (std::size_t i = 0; i < rows().size() && i < kMaxParameters; ++i)
            controllerValues[i] = normalizedOf(static_cast<ParamID>(i), rows()[i].defaultValue);
    }

    // FUnknown, shared by every interface of the object.
    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override {
        if (obj == nullptr) return kInvalidArgument;
        *obj = nullptr;
        if (sameUid(iid, FUnknown::iid) || sameUid(iid, IPluginBase::iid) || sameUid(iid, IComponent::iid))
            *obj = static_cast<IComponent*>(static_cast<ComponentRole*>(this));
        else if (sameUid(iid, IAudioProcessor::iid))
            *obj = static_cast<IAudioProcessor*>(this);
        else if (sameUid(iid, IEditController::iid))
            *obj = static_cast<IEditController*>(static_cast<ControllerRole*>(this));
        else if (sameUid(iid, IProcessContextRequirements::iid))
            *obj = static_cast<IProcessContextRequirements*>(this);
        else if (sameUid(iid, IUnitInfo::iid))
            *obj = static_cast<IUnitInfo*>(this);
        else
            return kNoInterface;
        addRef();
        return kResultOk;
    }
    uint32 PLUGIN_API addRef() override { return ++references; }
    uint32 PLUGIN_API release() override {
        const uint32 left = --references;
        if (left == 0) delete this;
        return left;
    }

    // IPluginBase: hosts initialise and terminate a single-object plug-in once for each role.
    tresult PLUGIN_API initialize(FUnknown*) override { return kResultOk; }
    tresult PLUGIN_API terminate() override {
        setComponentHandler(nullptr);
        return kResultOk;
    }

    // IComponent.
    tresult PLUGIN_API getControllerClassId(TUID) override { return kNotImplemented; }  // one object is both
    tresult PLUGIN_API setIoMode(IoMode) override { return kResultOk; }
    int32 PLUGIN_API getBusCount(MediaType type, BusDirection) override { return type == kAudio ? 1 : 0; }
    tresult PLUGIN_API getBusInfo(MediaType type, BusDirection dir, int32 index, BusInfo& bus) override {
        if (type != kAudio || index != 0 || (dir != kInput && dir != kOutput)) return kInvalidArgument;
        bus = {};
        bus.mediaType = kAudio;
        bus.direction = dir;
        bus.channelCount = kChannels;
        copyUtf16(bus.name, dir == kInput ? "Mid, side, DI" : "Left, right, DI alone", 128);
        bus.busType = kMain;
        bus.flags = BusInfo::kDefaultActive;
        return kResultOk;
    }
    tresult PLUGIN_API getRoutingInfo(RoutingInfo&, RoutingInfo&) override { return kNotImplemented; }
    tresult PLUGIN_API activateBus(MediaType type, BusDirection, int32 index, TBool) override {
        return type == kAudio && index == 0 ? kResultOk : kInvalidArgument;
    }
    tresult PLUGIN_API setActive(TBool state) override {
        if (state)
            decoder->resume();
        else
            decoder->suspend();
        return kResultOk;
    }
    // The state may arrive while processing runs: the effect stores parameters race-free.
    tresult setComponentChunk(IBStream* state) override {
        try {
            std::vector<std::uint8_t> chunk;
            if (!readState(state, chunk)) return kResultFalse;
            if (!decoder->loadState(chunk.data(), chunk.size())) return kResultFalse;
            for (const int32 p : {vintrel::kDiDelay, vintrel::kDiPolarity, vintrel::kDiMatch})
                controllerValues[p] = decoder->normalized(p);
            tellNewLatency(Tell::AtTheNextEdit);
            return kResultOk;
        } catch (...) {
            return kResultFalse;
        }
    }
    tresult getComponentChunk(IBStream* state) override {
        try {
            const std::vector<std::uint8_t> chunk = decoder->saveState();
            return writeState(state, chunk) ? kResultOk : kResultFalse;
        } catch (...) {
            return kResultFalse;
        }
    }

    // IAudioProcessor.
    tresult PLUGIN_API setBusArrangements(SpeakerArrangement* inputs, int32 numIns, SpeakerArrangement* outputs,
                                          int32 numOuts) override {
        // Any arrangement of three channels each way; the channels keep their order.
        if (numIns != 1 || numOuts != 1 || inputs == nullptr || outputs == nullptr) return kResultFalse;
        if (channelsOf(inputs[0]) != kChannels || channelsOf(outputs[0]) != kChannels) return kResultFalse;
        arrangement[0] = inputs[0];
        arrangement[1] = outputs[0];
        return kResultTrue;
    }
    tresult PLUGIN_API getBusArrangement(BusDirection dir, int32 index, SpeakerArrangement& arr) override {
        if (index != 0 || (dir != kInput && dir != kOutput)) return kInvalidArgument;
        arr = arrangement[dir];
        return kResultOk;
    }
    tresult PLUGIN_API canProcessSampleSize(int32 size) override {
        return size == kSample32 || size == kSample64 ? kResultTrue : kResultFalse;
    }
    // What the controller last reported: a host may ask at once, before the processor has seen
    // the edit that changed it.
    uint32 PLUGIN_API getLatencySamples() override { return static_cast<uint32>(toldLatency); }
    tresult PLUGIN_API setupProcessing(ProcessSetup& setup) override {
        if (!(setup.sampleRate > 0.0)) return kInvalidArgument;
        decoder->setSampleRate(setup.sampleRate);
        meterFeed.diInputs.setSampleRate(setup.sampleRate);
        sampleRate = setup.sampleRate;
        toldLatency = decoder->latency();
        heardLatency = toldLatency.load();  // a host asks after setting up
        return kResultOk;
    }
    tresult PLUGIN_API setProcessing(TBool state) override {
        processing = state != 0;
        return kResultOk;
    }
    tresult PLUGIN_API process(ProcessData& data) override;
    uint32 PLUGIN_API getTailSamples() override { return kNoTail; }

    // IProcessContextRequirements: what the effect asks of its transport.
    uint32 PLUGIN_API getProcessContextRequirements() override {
        return kNeedProjectTimeMusic | kNeedTempo | kNeedTimeSignature | kNeedTransportState;
    }

    // IEditController: the host's view of the parameters, kept apart from the processing side
    // as the interface wants; it follows the component's state and the values processed.
    tresult PLUGIN_API setComponentState(IBStream* state) override {
        try {
            std::vector<std::uint8_t> chunk;
            if (!readState(state, chunk)) return kResultFalse;
            std::vector<double> values;
            if (!EmbeddedDecoder::valuesInState(chunk.data(), chunk.size(), values)) return kResultFalse;
            for (std::size_t i = 0; i < values.size() && i < kMaxParameters; ++i)
                if (!std::isnan(values[i]))  // a factory preset's leaves the tone match as it is
                    controllerValues[i] = normalizedOf(static_cast<ParamID>(i), values[i]);
            programFollowsValues();
            tellNewLatency(Tell::AtTheNextEdit);
            return kResultOk;
        } catch (...) {
            return kResultFalse;
        }
    }
    int32 PLUGIN_API getParameterCount() override { return static_cast<int32>(rows().size()) + 1; }
    tresult PLUGIN_API getParameterInfo(int32 index, ParameterInfo& info) override {
        if (index == static_cast<int32>(rows().size())) return programChangeInfo(info);
        if (index < 0 || !knownParameter(static_cast<ParamID>(index))) return kInvalidArgument;
        const auto& row = rows()[static_cast<std::size_t>(index)];
        info = {};
        info.id = static_cast<ParamID>(index);
        copyUtf16(info.title, row.name, 128);
        copyUtf16(info.shortTitle, row.name, 128);
        copyUtf16(info.units, row.unit, 128);
        info.stepCount = row.isSwitch() ? row.stepCount() : 0;
        info.defaultNormalizedValue = normalizedOf(info.id, row.defaultValue);
        info.unitId = 0;
        info.flags = ParameterInfo::kCanAutomate | (row.isSwitch() ? ParameterInfo::kIsList : 0) |
                     (index == vintrel::kBypass ? ParameterInfo::kIsBypass : 0);
        return kResultOk;
    }
    tresult PLUGIN_API getParamStringByValue(ParamID id, ParamValue normalized, TChar* string) override {
        if (id == kProgramChangeId && string != nullptr && !std::isnan(normalized)) {
            copyUtf16(string, vintrel::kFactoryPresets[static_cast<std::size_t>(programOf(normalized))].name, 128);
            return kResultOk;
        }
        if (!knownParameter(id) || string == nullptr || std::isnan(normalized)) return kInvalidArgument;
        try {
            copyUtf16(string, EmbeddedDecoder::textFor(static_cast<int32>(id), plainOf(id, normalized)), 128);
            return kResultOk;
        } catch (...) {
            return kInternalError;
        }
    }
    tresult PLUGIN_API getParamValueByString(ParamID id, TChar* string, ParamValue& normalized) override {
        if ((!knownParameter(id) && id != kProgramChangeId) || string == nullptr) return kInvalidArgument;
        try {
            std::string text;
            for (std::size_t i = 0; i < 128 && string[i] != 0; ++i) {
                if (string[i] > 0x7F) return kResultFalse;  // our texts are plain ASCII
                text += static_cast<char>(string[i]);
            }
            if (id == kProgramChangeId) {
                const vintrel::FactoryPreset* preset = vintrel::factoryPreset(text);
                if (preset == nullptr) return kResultFalse;
                normalized = normalizedProgram(static_cast<int32>(preset - vintrel::kFactoryPresets.data()));
                return kResultOk;
            }
            double plain = 0.0;
            if (!EmbeddedDecoder::valueFor(static_cast<int32>(id), text.c_str(), plain)) return kResultFalse;
            normalized = normalizedOf(id, plain);
            return kResultOk;
        } catch (...) {
            return kInternalError;
        }
    }
    // A program's plain value is its index.
    ParamValue PLUGIN_API normalizedParamToPlain(ParamID id, ParamValue normalized) override {
        if (id == kProgramChangeId) return programOf(normalized);
        return knownParameter(id) ? plainOf(id, normalized) : 0.0;
    }
    ParamValue PLUGIN_API plainParamToNormalized(ParamID id, ParamValue plain) override {
        if (id == kProgramChangeId) return std::clamp(plain / kProgramSteps, 0.0, 1.0);
        return knownParameter(id) ? normalizedOf(id, plain) : 0.0;
    }
    ParamValue PLUGIN_API getParamNormalized(ParamID id) override {
        if (id == kProgramChangeId) return programValue.load();
        return knownParameter(id) ? controllerValues[id].load() : 0.0;
    }
    tresult PLUGIN_API setParamNormalized(ParamID id, ParamValue value) override {
        if (id == kProgramChangeId && !std::isnan(value)) {
            try {
                choosePresetInController(programOf(value));
                return kResultOk;
            } catch (...) {
                return kInternalError;
            }
        }
        if (!knownParameter(id) || std::isnan(value)) return kInvalidArgument;
        // A host's echo of the value the controller holds changes nothing, and tells nothing:
        // Ardour echoes each new value, kept as a float, from inside a state's load, under its
        // lock. (The effect hears values as floats: no edit is finer than that.)
        const double held = controllerValues[id].load();
        if (value == held || static_cast<float>(value) == static_cast<float>(held)) return kResultOk;
        controllerValues[id] = std::clamp(value, 0.0, 1.0);
        // While nothing processes, no processing call will carry the host's value to the
        // processor before it saves a state: the processor takes it now (the effect stores
        // values race-free). While processing, the value arrives at its sample offset.
        if (!processing) decoder->setNormalized(static_cast<int32>(id), controllerValues[id].load());
        tellNewLatency();
        return kResultOk;
    }
    tresult PLUGIN_API setComponentHandler(IComponentHandler* h) override {
        if (h == handler) return kResultOk;
        if (h != nullptr) h->addRef();
        if (handler != nullptr) handler->release();
        handler = h;
        return kResultOk;
    }
    IPlugView* PLUGIN_API createView(FIDString name) override {
        if (name == nullptr || std::strcmp(name, kEditorViewType) != 0) return nullptr;
        try {
            return vst3editor::createView(*this);
        } catch (...) {
            return nullptr;
        }
    }

    // vst3editor::ViewOwner: the editor shows the controller's values and edits through the host.
    FUnknown* owner() override { return static_cast<IComponent*>(static_cast<ComponentRole*>(this)); }
    editor::MeterFeed& meters() override { return meterFeed; }
    double shownValue(int parameter) override {
        return plainOf(static_cast<ParamID>(parameter), controllerValues[static_cast<std::size_t>(parameter)].load());
    }
    void beginEdit(int parameter) override {
        if (handler != nullptr) handler->beginEdit(static_cast<ParamID>(parameter));
    }
    void performEdit(int parameter, double value) override {
        const auto id = static_cast<ParamID>(parameter);
        controllerValues[id] = normalizedOf(id, value);
        if (handler != nullptr) handler->performEdit(id, normalizedOf(id, value));
        tellNewLatency();
    }
    void endEdit(int parameter) override {
        if (handler != nullptr) handler->endEdit(static_cast<ParamID>(parameter));
    }
    IComponentHandler* componentHandler() override { return handler; }
    align::ToneCurve toneCurve() override { return decoder->toneCurve(); }
    void setToneCurve(const align::ToneCurve& curve) override { decoder->setToneCurve(curve); }
    // The editor's preset bar moves the host's program too, so its browser shows the choice.
    void presetChosen(int preset) override {
        programValue = normalizedProgram(preset);
        if (handler == nullptr) return;
        handler->beginEdit(kProgramChangeId);
        handler->performEdit(kProgramChangeId, programValue.load());
        handler->endEdit(kProgramChangeId);
    }

    // IUnitInfo: one unit, the root, with the factory presets as its one program list.
    int32 PLUGIN_API getUnitCount() override { return 1; }
    tresult PLUGIN_API getUnitInfo(int32 unitIndex, UnitInfo& info) override {
        if (unitIndex != 0) return kInvalidArgument;
        info = {};
        info.id = kRootUnitId;
        info.parentUnitId = kNoParentUnitId;
        copyUtf16(info.name, "Root", 128);
        info.programListId = kFactoryListId;
        return kResultOk;
    }
    int32 PLUGIN_API getProgramListCount() override { return 1; }
    tresult PLUGIN_API getProgramListInfo(int32 listIndex, ProgramListInfo& info) override {
        if (listIndex != 0) return kInvalidArgument;
        info = {};
        info.id = kFactoryListId;
        copyUtf16(info.name, "Factory presets", 128);
        info.programCount = kPresetCount;
        return kResultOk;
    }
    tresult PLUGIN_API getProgramName(ProgramListID listId, int32 programIndex, TChar* name) override {
        if (listId != kFactoryListId || programIndex < 0 || programIndex >= kPresetCount || name == nullptr)
            return kInvalidArgument;
        copyUtf16(name, vintrel::kFactoryPresets[static_cast<std::size_t>(programIndex)].name, 128);
        return kResultOk;
    }
    tresult PLUGIN_API getProgramInfo(ProgramListID, int32, const char8*, TChar*) override { return kResultFalse; }
    tresult PLUGIN_API hasProgramPitchNames(ProgramListID, int32) override { return kResultFalse; }
    tresult PLUGIN_API getProgramPitchName(ProgramListID, int32, int16, TChar*) override { return kResultFalse; }
    UnitID PLUGIN_API getSelectedUnit() override { return kRootUnitId; }
    tresult PLUGIN_API selectUnit(UnitID unitId) override { return unitId == kRootUnitId ? kResultOk : kInvalidArgument; }
    tresult PLUGIN_API getUnitByBus(MediaType type, BusDirection, int32 busIndex, int32, UnitID& unitId) override {
        if (type != kAudio || busIndex != 0) return kInvalidArgument;
        unitId = kRootUnitId;
        return kResultOk;
    }
    tresult PLUGIN_API setUnitProgramData(int32, int32, IBStream*) override { return kNotImplemented; }

private:
    static constexpr std::size_t kMaxParameters = 16;

    tresult programChangeInfo(ParameterInfo& info) {
        info = {};
        info.id = kProgramChangeId;
        copyUtf16(info.title, "Factory preset", 128);
        copyUtf16(info.shortTitle, "Preset", 128);
        info.stepCount = kProgramSteps;
        info.unitId = kRootUnitId;
        info.flags = ParameterInfo::kCanAutomate | ParameterInfo::kIsList | ParameterInfo::kIsProgramChange;
        return kResultOk;
    }

    // A program chosen by the host: the controller moves each control the preset changes and
    // tells the host of each as an edit, whose gestures overlap: one step. (Not by asking the
    // host to read every value again, nor telling it of a new latency, from here: a host that
    // chose the program from under a lock of its own may take it again.) The processor hears
    // the program itself.
    void choosePresetInController(int32 program) {
        programValue = normalizedProgram(program);
        const auto targets = vintrel::presetTargets(vintrel::kFactoryPresets[static_cast<std::size_t>(program)]);
        std::vector<ParamID> changed;
        for (std::size_t i = 0; i < targets.size(); ++i)
            if (normalizedOf(static_cast<ParamID>(i), targets[i]) != controllerValues[i].load())
                changed.push_back(static_cast<ParamID>(i));
        for (const ParamID id : changed)
            if (handler != nullptr) handler->beginEdit(id);
        for (const ParamID id : changed) {
            controllerValues[id] = normalizedOf(id, targets[id]);
            if (handler != nullptr) handler->performEdit(id, controllerValues[id].load());
        }
        for (const ParamID id : changed)
            if (handler != nullptr) handler->endEdit(id);
        if (!processing)  // as for any value set while nothing processes
            for (std::size_t i = 0; i < targets.size(); ++i) decoder->setValue(static_cast<std::int32_t>(i), targets[i]);
        tellNewLatency(Tell::AtTheNextEdit);  // a host's program change may hold its lock, as a state does
    }

    // After a state: the program is the preset whose values the controls show, if one does.
    void programFollowsValues() {
        for (int32 program = 0; program < kPresetCount; ++program) {
            const auto targets = vintrel::presetTargets(vintrel::kFactoryPresets[static_cast<std::size_t>(program)]);
            bool same = true;
            for (std::size_t i = 0; i < targets.size() && same; ++i)
                same = normalizedOf(static_cast<ParamID>(i), targets[i]) == controllerValues[i].load();
            if (same) {
                programValue = normalizedProgram(program);
                return;
            }
        }
    }

    // A program on the audio thread, from where it falls in the block: every control it sets,
    // as the host's changes of each would.
    void applyProgram(ParamValue value) noexcept {
        const auto targets = vintrel::presetTargets(vintrel::kFactoryPresets[static_cast<std::size_t>(programOf(value))]);
        for (std::size_t i = 0; i < targets.size(); ++i) {
            decoder->setValue(static_cast<std::int32_t>(i), targets[i]);
            controllerValues[i] = normalizedOf(static_cast<ParamID>(i), targets[i]);
        }
        programValue = normalizedProgram(programOf(value));
    }

    // The latency follows the DI delay the controller shows: a host hears of a new one through
    // restartComponent, from the thread the controller is called on, as the interface wants.
    // A state arrives while some hosts hold a lock that restartComponent takes again (Debian's
    // Ardour 7.3 hangs for good when a preset file's state changes the latency): then the new
    // latency is answered at once, and the host told of it with the next edit that changes a
    // value.
    enum class Tell { Now, AtTheNextEdit };
    void tellNewLatency(Tell when = Tell::Now) {
        const double ms = plainOf(vintrel::kDiDelay, controllerValues[vintrel::kDiDelay].load());
        toldLatency = align::AlignmentPlan::latencyOf(align::samplesOf(vintrel::onDelayGrid(ms), sampleRate));
        if (when == Tell::AtTheNextEdit || toldLatency == heardLatency) return;
        heardLatency = toldLatency.load();
        if (handler != nullptr) handler->restartComponent(IComponentHandler::kLatencyChanged);
    }

    ~GuitarDecoderVst3() { setComponentHandler(nullptr); }

    static int channelsOf(SpeakerArrangement a) {
        int n = 0;
        for (; a != 0; a &= a - 1) ++n;
        return n;
    }

    std::unique_ptr<EmbeddedDecoder> decoder;
    editor::MeterFeed meterFeed;  // measured while an editor is open
    std::atomic<uint32> references{1};
    IComponentHandler* handler = nullptr;
    SpeakerArrangement arrangement[2] = {SpeakerArr::k30Cine, SpeakerArr::k30Cine};
    // What the controller shows; relaxed, as every value shared with the audio thread.
    vintrel::SharedDouble controllerValues[kMaxParameters] = {};
    vintrel::SharedDouble programValue{0.0};  // the factory preset last chosen, as the host's value
    std::atomic<bool> processing{false};      // between the host's setProcessing(true) and (false)
    double sampleRate = 48000;
    std::atomic<std::int32_t> toldLatency{0};   // the latency the host is answered, asked from any thread
    std::atomic<std::int32_t> heardLatency{0};  // the one it last heard of through restartComponent
};

// The points of every parameter queue of one call, earliest first (a tie goes to the earlier
// queue). Each queue's next point is read once, so a block with many changes costs a few calls
// per change, not a scan of every queue.
class PointsInOrder {
public:
    explicit PointsInOrder(IParameterChanges* changes) {
        queues_ = changes != nullptr ? std::clamp(changes->getParameterCount(), 0, kMaxQueues) : 0;
        for (int32 q = 0; q < queues_; ++q) {
            queue_[q] = changes->getParameterData(q);
            count_[q] = queue_[q] != nullptr ? queue_[q]->getPointCount() : 0;
            id_[q] = count_[q] > 0 ? queue_[q]->getParameterId() : 0;
            taken_[q] = 0;
            readNext(q);
        }
    }
    // The earliest point not yet taken; false when none is left.
    bool next(ParamID& id, int32& offset, ParamValue& value) {
        int32 earliest = -1;
        std::int64_t best = kNone;
        for (int32 q = 0; q < queues_; ++q)
            if (offset_[q] < best) best = offset_[q], earliest = q;
        if (earliest < 0) return false;
        id = id_[earliest], offset = static_cast<int32>(best), value = value_[earliest];
        ++taken_[earliest];
        readNext(earliest);
        return true;
    }

private:
    static constexpr std::int64_t kNone = INT64_MAX;  // past every offset: a queue with nothing left

    // A point the queue cannot give ends that queue.
    void readNext(int32 q) {
        int32 at = 0;
        const bool read = taken_[q] < count_[q] && queue_[q]->getPoint(taken_[q], at, value_[q]) == kResultOk;
        offset_[q] = read ? at : kNone;
    }

    int32 queues_;
    IParamValueQueue* queue_[kMaxQueues];
    ParamID id_[kMaxQueues];
    int32 count_[kMaxQueues], taken_[kMaxQueues];
    std::int64_t offset_[kMaxQueues];
    ParamValue value_[kMaxQueues];
};

constexpr uint64 kAllChannels = (uint64{1} << kChannels) - 1;

// A bit for each channel whose every sample is zero, as hosts read silence flags.
template <class Sample>
uint64 silenceOf(Sample** channels, int32 frames) {
    uint64 flags = 0;
    for (int32 k = 0; k < kChannels; ++k)
        if (std::all_of(channels[k], channels[k] + frames, [](Sample x) { return x == Sample(0); }))
            flags |= uint64{1} << k;
    return flags;
}

// Parameter changes act from their sample offset: the block is decoded in spans between the
// points of all queues, taken in order of offset.
tresult PLUGIN_API GuitarDecoderVst3::process(ProcessData& data) {
    const int32 frames = std::max<int32>(data.numSamples, 0);
    AudioBusBuffers* in = data.numInputs >= 1 ? data.inputs : nullptr;
    AudioBusBuffers* out = data.numOutputs >= 1 ? data.outputs : nullptr;
    const bool hasAudio = in != nullptr && out != nullptr && in->numChannels == kChannels &&
                          out->numChannels == kChannels && in->channelBuffers32 != nullptr &&
                          out->channelBuffers32 != nullptr;
    const bool doubles = data.symbolicSampleSize == kSample64;
    const VstTimeInfo time = data.processContext ? timeInfoOf(*data.processContext) : VstTimeInfo{};
    const VstTimeInfo* transport = data.processContext ? &time : nullptr;
    // Three silent inputs, and nothing kept from earlier ones, decode to silence: no output is
    // looked at to say so (the decoding itself runs as ever, for the same bits).
    const bool allSilent = hasAudio && (in->silenceFlags & kAllChannels) == kAllChannels && decoder->keepsNoPast();

    int32 done = 0;
    auto decodeUpTo = [&](int32 frame) {
        frame = std::clamp(frame, done, frames);
        if (frame == done) return;
        if (hasAudio && doubles) decoder->processSpan(in->channelBuffers64, out->channelBuffers64, done, frame, frames, transport);
        if (hasAudio && !doubles) decoder->processSpan(in->channelBuffers32, out->channelBuffers32, done, frame, frames, transport);
        done = frame;
    };
    if (hasAudio && doubles) meterFeed.beforeBlock(in->channelBuffers64, frames);
    if (hasAudio && !doubles) meterFeed.beforeBlock(in->channelBuffers32, frames);
    PointsInOrder points(data.inputParameterChanges);
    ParamID id = 0;
    int32 offset = 0;
    ParamValue value = 0.0;
    while (points.next(id, offset, value)) {
        decodeUpTo(offset);
        if (id == kProgramChangeId && !std::isnan(value)) applyProgram(value);
        if (knownParameter(id) && !std::isnan(value)) {
            decoder->setNormalized(static_cast<int32>(id), value);
            controllerValues[id] = std::clamp(value, 0.0, 1.0);
        }
    }
    decodeUpTo(frames);
    if (hasAudio && doubles) meterFeed.afterBlock(out->channelBuffers64, frames);
    if (hasAudio && !doubles) meterFeed.afterBlock(out->channelBuffers32, frames);
    if (hasAudio) {
        out->silenceFlags = allSilent ? kAllChannels
                            : doubles ? silenceOf(out->channelBuffers64, frames)
                                      : silenceOf(out->channelBuffers32, frames);
    }
    return kResultOk;
}

// The factory: one class, the module's one factory object.
class Factory final : public IPluginFactory3 {
public:
    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override {
        if (obj == nullptr) return kInvalidArgument;
        *obj = nullptr;
        if (!sameUid(iid, FUnknown::iid) && !sameUid(iid, IPluginFactory::iid) && !sameUid(iid, IPluginFactory2::iid) &&
            !sameUid(iid, IPluginFactory3::iid))
            return kNoInterface;
        *obj = this;
        return kResultOk;
    }
    uint32 PLUGIN_API addRef() override { return 1; }  // lives as long as the module
    uint32 PLUGIN_API release() override { return 1; }

    tresult PLUGIN_API getFactoryInfo(PFactoryInfo* info) override {
        if (info == nullptr) return kInvalidArgument;
        *info = {};
        copyText(info->vendor, EmbeddedDecoder::identity().vendor, sizeof info->vendor);
        copyText(info->url, vintrel::kHomepage, sizeof info->url);
        copyText(info->email, vintrel::kSupportEmail, sizeof info->email);
        info->flags = PFactoryInfo::kUnicode;
        return kResultOk;
    }
    int32 PLUGIN_API countClasses() override { return 1; }
    tresult PLUGIN_API getClassInfo(int32 index, PClassInfo* info) override {
        if (index != 0 || info == nullptr) return kInvalidArgument;
        *info = {};
        std::memcpy(info->cid, kClassId.bytes, 16);
        info->cardinality = PClassInfo::kManyInstances;
        copyText(info->category, kVstAudioEffectClass, sizeof info->category);
        copyText(info->name, EmbeddedDecoder::identity().name, sizeof info->name);
        return kResultOk;
    }
    tresult PLUGIN_API createInstance(FIDString cid, FIDString iid, void** obj) override {
        if (cid == nullptr || iid == nullptr || obj == nullptr) return kInvalidArgument;
        *obj = nullptr;
        if (!sameUid(cid, kClassId)) return kNoInterface;
        try {
            std::unique_ptr<EmbeddedDecoder> decoder = EmbeddedDecoder::create(48000.0, 8192);
            if (!decoder) return kOutOfMemory;
            auto* plugin = new GuitarDecoderVst3(std::move(decoder));
            const tresult result = plugin->queryInterface(iid, obj);
            plugin->release();  // the interface asked for holds the one reference left
            return result;
        } catch (...) {
            return kOutOfMemory;
        }
    }
    tresult PLUGIN_API getClassInfo2(int32 index, PClassInfo2* info) override {
        if (index != 0 || info == nullptr) return kInvalidArgument;
        *info = {};
        PClassInfo basic;
        getClassInfo(0, &basic);
        std::memcpy(info->cid, basic.cid, 16);
        info->cardinality = basic.cardinality;
        std::memcpy(info->category, basic.category, sizeof info->category);
        std::memcpy(info->name, basic.name, sizeof info->name);
        copyText(info->subCategories, kSubCategories, sizeof info->subCategories);
        copyText(info->vendor, EmbeddedDecoder::identity().vendor, sizeof info->vendor);
        copyText(info->version, VINTREL_VERSION, sizeof info->version);
        copyText(info->sdkVersion, kSdkVersionString, sizeof info->sdkVersion);
        return kResultOk;
    }
    tresult PLUGIN_API getClassInfoUnicode(int32 index, PClassInfoW* info) override {
        PClassInfo2 narrow;
        if (info == nullptr || getClassInfo2(index, &narrow) != kResultOk) return kInvalidArgument;
        *info = {};
        std::memcpy(info->cid, narrow.cid, 16);
        info->cardinality = narrow.cardinality;
        std::memcpy(info->category, narrow.category, sizeof info->category);
        copyUtf16(info->name, narrow.name, PClassInfo::kNameSize);
        std::memcpy(info->subCategories, narrow.subCategories, sizeof info->subCategories);
        copyUtf16(info->vendor, narrow.vendor, PClassInfo2::kVendorSize);
        copyUtf16(info->version, narrow.version, PClassInfo2::kVersionSize);
        copyUtf16(info->sdkVersion, narrow.sdkVersion, PClassInfo2::kVersionSize);
        return kResultOk;
    }
    tresult PLUGIN_API setHostContext(FUnknown*) override { return kResultOk; }
};

Factory factory;

}  // namespace

#if defined(_WIN32)
#define VINTREL_VST3_EXPORT extern "C" __declspec(dllexport)
#else
#define VINTREL_VST3_EXPORT extern "C" __attribute__((visibility("default")))
#endif

VINTREL_VST3_EXPORT IPluginFactory* PLUGIN_API GetPluginFactory() {
    try {
        EmbeddedDecoder::identity();
        return &factory;
    } catch (...) {
        return nullptr;
    }
}

#if defined(_WIN32)
VINTREL_VST3_EXPORT bool InitDll() { return true; }
VINTREL_VST3_EXPORT bool ExitDll() { return true; }
#else
VINTREL_VST3_EXPORT bool ModuleEntry(void*) { return true; }
VINTREL_VST3_EXPORT bool ModuleExit() { return true; }
#endif
