#include "adapter/vest.h"

#include <cstddef>
#include <cstring>

#include "runtime/vest_services.h"

CVeST* CVeST::Create(TVintrel* effect, const VeSTBridge& bridge, audioMasterCallback audioMaster, VstInt32 numPrograms,
                     VstInt32 numParams) {
    if (audioMaster == nullptr || audioMaster(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f) == 0) return nullptr;
    return new CVeST(effect, bridge, audioMaster, numPrograms, numParams);
}

CVeST::CVeST(TVintrel* effect, const VeSTBridge& bridge, audioMasterCallback audioMaster, VstInt32 numPrograms,
             VstInt32 numParams)
    : AudioEffectX(audioMaster, numPrograms, numParams), Effect(effect), Bridge(bridge) {
    canProcessReplacing(true);
    canDoubleReplacing(true);
    if (Bridge.OnCreate) Bridge.OnCreate(this);
}

CVeST::~CVeST() {
    if (Bridge.OnDestroy) Bridge.OnDestroy(this);
}

void CVeST::open() {
    if (Bridge.OnOpen) Bridge.OnOpen(this);
}

void CVeST::close() {
    if (Bridge.OnClose) Bridge.OnClose(this);
}

void CVeST::suspend() {
    if (Bridge.OnSuspend) Bridge.OnSuspend(this);
}

void CVeST::resume() {
    AudioEffectX::resume();
    if (Bridge.OnResume) Bridge.OnResume(this);
}

void CVeST::processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) {
    if (Bridge.ProcessReplacing) Bridge.ProcessReplacing(this, inputs, outputs, sampleFrames);
}

void CVeST::processDoubleReplacing(double** inputs, double** outputs, VstInt32 sampleFrames) {
    if (Bridge.ProcessDoubleReplacing) Bridge.ProcessDoubleReplacing(this, inputs, outputs, sampleFrames);
}

void CVeST::setParameter(VstInt32 index, float value) {
    if (Bridge.SetParameter) Bridge.SetParameter(this, index, static_cast<double>(value));
}

float CVeST::getParameter(VstInt32 index) {
    return Bridge.GetParameter ? static_cast<float>(Bridge.GetParameter(this, index)) : 0.0f;
}

void CVeST::setProgramName(char* name) {
    if (Bridge.SetProgramName) Bridge.SetProgramName(this, name);
}

void CVeST::getProgramName(char* name) {
    if (Bridge.GetProgramName) Bridge.GetProgramName(this, name);
}

void CVeST::getParameterLabel(VstInt32 index, char* label) {
    if (Bridge.GetParameterLabel) Bridge.GetParameterLabel(this, index, label);
}

void CVeST::getParameterDisplay(VstInt32 index, char* text) {
    if (Bridge.GetParameterDisplay) Bridge.GetParameterDisplay(this, index, text);
}

void CVeST::getParameterName(VstInt32 index, char* text) {
    if (Bridge.GetParameterName) Bridge.GetParameterName(this, index, text);
}

VstInt32 CVeST::getChunk(void** data, bool isPreset) {
    return Bridge.GetChunk ? Bridge.GetChunk(this, data, isPreset ? 1 : 0) : 0;
}

VstInt32 CVeST::setChunk(void* data, VstInt32 byteSize, bool isPreset) {
    return Bridge.SetChunk ? Bridge.SetChunk(this, data, byteSize, isPreset ? 1 : 0) : 0;
}

bool CVeST::getProgramNameIndexed(VstInt32 category, VstInt32 index, char* text) {
    return Bridge.GetProgramNameIndexed && Bridge.GetProgramNameIndexed(this, category, index, text) != 0;
}

VstInt32 CVeST::processEvents(VstEvents* events) {
    if (events == nullptr) return 0;
    // The host allocates as many pointers as numEvents, past the two the declaration shows.
    const auto* list =
        reinterpret_cast<VstEvent* const*>(reinterpret_cast<const char*>(events) + offsetof(VstEvents, events));
    for (VstInt32 i = 0; i < events->numEvents; ++i) {
        const VstEvent* event = list[i];
        if (event == nullptr || event->type != kVstMidiType) continue;
        VstMidiEvent& entry = MidiRing[static_cast<std::size_t>(MidiWrite)];
        std::memcpy(&entry, event, sizeof(VstMidiEvent));
        entry.type = kVstMidiType;
        if (++MidiWrite == MidiRingSize) MidiWrite = 0;
    }
    return 1;
}

bool CVeST::getEffectName(char* name) { return Bridge.GetEffectName && Bridge.GetEffectName(this, name) != 0; }

bool CVeST::getVendorString(char* text) { return Bridge.GetVendorString && Bridge.GetVendorString(this, text) != 0; }

bool CVeST::getProductString(char* text) { return Bridge.GetProductString && Bridge.GetProductString(this, text) != 0; }

VstInt32 CVeST::getVendorVersion() { return Bridge.GetVendorVersion ? Bridge.GetVendorVersion(this) : 0; }

VstIntPtr CVeST::canDo(char* text) {
    // strncmp stops at the host's terminating zero, so nothing past it is read.
    if (text != nullptr && std::strncmp(text, "receiveVstMidiEvent", 20) == 0) return cEffect.flags | effFlagsIsSynth;
    return -1;
}

// Services for the effect.

AEffect* VeSTGetAEffect(CVeST* vest) { return vest ? vest->getAeffect() : nullptr; }

std::int32_t VeSTSetNumInputs(CVeST* vest, std::int32_t count) {
    if (!vest) return 0;
    vest->setNumInputs(count);
    return 1;
}

std::int32_t VeSTSetNumOutputs(CVeST* vest, std::int32_t count) {
    if (!vest) return 0;
    vest->setNumOutputs(count);
    return 1;
}

std::int32_t VeSTSetUniqueID(CVeST* vest, std::int32_t id) {
    if (!vest) return 0;
    vest->setUniqueID(id);
    return 1;
}

std::int32_t VeSTProgramsAreChunks(CVeST* vest, bool state) {
    if (!vest) return 0;
    vest->programsAreChunks(state);
    return 1;
}

std::int32_t VeSTGetNumInputs(CVeST* vest) { return vest ? vest->getAeffect()->numInputs : 0; }

double VeSTGetSampleRate(CVeST* vest) { return vest ? static_cast<double>(vest->getSampleRate()) : 0.0; }

std::int32_t VeSTGetBlockSize(CVeST* vest) { return vest ? vest->getBlockSize() : 0; }

std::int32_t VeSTSetInitialDelay(CVeST* vest, std::int32_t delay) {
    if (!vest) return 0;
    vest->setInitialDelay(delay);
    return 1;
}

std::int32_t VeSTRedraw(CVeST* /*vest*/) { return 0; }  // there is never an editor to redraw

double VeSTTempo(CVeST* vest) {
    const VstTimeInfo* info = vest ? vest->getTimeInfo(kVstTempoValid) : nullptr;
    return info ? info->tempo : 0.0;
}

bool VeSTIsPlaying(CVeST* vest) {
    const VstTimeInfo* info = vest ? vest->getTimeInfo(kVstTransportPlaying) : nullptr;
    return info && (info->flags & kVstTransportPlaying) != 0;
}

bool VeSTIsRecording(CVeST* vest) {
    const VstTimeInfo* info = vest ? vest->getTimeInfo(kVstTransportRecording) : nullptr;
    return info && (info->flags & kVstTransportRecording) != 0;
}

double VeSTBeatPosition(CVeST* vest) {
    const VstTimeInfo* info = vest ? vest->getTimeInfo(kVstPpqPosValid) : nullptr;
    return info ? info->ppqPos : 0.0;
}

std::int32_t VeSTTimeSignature(CVeST* vest, double* tempo, double* numerator, double* denominator) {
    const VstTimeInfo* info = vest ? vest->getTimeInfo(kVstTempoValid | kVstTimeSigValid) : nullptr;
    if (!info) return 0;
    if (tempo) *tempo = info->tempo;
    if (numerator) *numerator = static_cast<double>(info->timeSigNumerator);
    if (denominator) *denominator = static_cast<double>(info->timeSigDenominator);
    return 1;
}
