#include "adapter/audioeffect.h"

namespace {

AudioEffect* adapterOf(AEffect* e) { return e != nullptr ? static_cast<AudioEffect*>(e->object) : nullptr; }

// The record's functions are the C boundary: nothing thrown inside may reach the host.
VstIntPtr VSTCALLBACK dispatchEffectClass(AEffect* e, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                          float opt) {
    AudioEffect* adapter = adapterOf(e);
    if (adapter == nullptr) return 0;
    try {
        if (opcode == effClose) {
            adapter->dispatcher(opcode, index, value, ptr, opt);
            delete adapter;
            return 1;
        }
        return adapter->dispatcher(opcode, index, value, ptr, opt);
    } catch (...) {
        return 0;
    }
}

void VSTCALLBACK processClass(AEffect* e, float** inputs, float** outputs, VstInt32 sampleFrames) {
    if (AudioEffect* adapter = adapterOf(e)) adapter->process(inputs, outputs, sampleFrames);
}

void VSTCALLBACK processReplacingClass(AEffect* e, float** inputs, float** outputs, VstInt32 sampleFrames) {
    if (AudioEffect* adapter = adapterOf(e)) adapter->processReplacing(inputs, outputs, sampleFrames);
}

void VSTCALLBACK processDoubleReplacingClass(AEffect* e, double** inputs, double** outputs, VstInt32 sampleFrames) {
    if (AudioEffect* adapter = adapterOf(e)) adapter->processDoubleReplacing(inputs, outputs, sampleFrames);
}

void VSTCALLBACK setParameterClass(AEffect* e, VstInt32 index, float value) {
    if (AudioEffect* adapter = adapterOf(e)) adapter->setParameter(index, value);
}

float VSTCALLBACK getParameterClass(AEffect* e, VstInt32 index) {
    AudioEffect* adapter = adapterOf(e);
    return adapter != nullptr ? adapter->getParameter(index) : 0.0f;
}

}  // namespace

AudioEffect::AudioEffect(audioMasterCallback audioMaster, VstInt32 numPrograms, VstInt32 numParams)
    : audioMaster(audioMaster), numPrograms(numPrograms), numParams(numParams) {
    cEffect.magic = kEffectMagic;
    cEffect.dispatcher = dispatchEffectClass;
    cEffect.process = processClass;
    cEffect.setParameter = setParameterClass;
    cEffect.getParameter = getParameterClass;
    cEffect.numPrograms = numPrograms;
    cEffect.numParams = numParams;
    cEffect.numInputs = 1;
    cEffect.numOutputs = 2;
    cEffect.flags = effFlagsCanReplacing;
    cEffect.ioRatio = 1.0f;
    cEffect.object = this;
    cEffect.uniqueID = fourCharCode('N', 'o', 'E', 'f');
    cEffect.version = 1;
    cEffect.processReplacing = processReplacingClass;
    cEffect.processDoubleReplacing = processDoubleReplacingClass;
}

AudioEffect::~AudioEffect() = default;  // an editor would be destroyed here; none ever exists

VstIntPtr AudioEffect::dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
    char* text = static_cast<char*>(ptr);
    switch (opcode) {
        case effOpen: open(); return 0;
        case effClose: close(); return 0;
        case effSetProgram:
            if (value < numPrograms) setProgram(static_cast<VstInt32>(value));
            return 0;
        case effGetProgram: return getProgram();
        case effSetProgramName:
            if (text) setProgramName(text);
            return 0;
        case effGetProgramName:
            if (text) getProgramName(text);
            return 0;
        case effGetParamLabel:
            if (text) getParameterLabel(index, text);
            return 0;
        case effGetParamDisplay:
            if (text) getParameterDisplay(index, text);
            return 0;
        case effGetParamName:
            if (text) getParameterName(index, text);
            return 0;
        case effSetSampleRate: setSampleRate(opt); return 0;
        case effSetBlockSize: setBlockSize(static_cast<VstInt32>(value)); return 0;
        case effMainsChanged:
            if (value != 0)
                resume();
            else
                suspend();
            return 0;
        case effIdentify: return fourCharCode('N', 'v', 'E', 'f');
        case effGetChunk: return ptr != nullptr ? getChunk(static_cast<void**>(ptr), index != 0) : 0;
        case effSetChunk: return ptr != nullptr ? setChunk(ptr, static_cast<VstInt32>(value), index != 0) : 0;
        default: return 0;  // no editor: every editor request answers 0 as well
    }
}

VstIntPtr AudioEffectX::dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
    char* text = static_cast<char*>(ptr);
    switch (opcode) {
        case effProcessEvents: return ptr != nullptr ? processEvents(static_cast<VstEvents*>(ptr)) : 0;
        case effCanBeAutomated: return canParameterBeAutomated(index) ? 1 : 0;
        case effGetProgramNameIndexed:
            return text && getProgramNameIndexed(static_cast<VstInt32>(value), index, text) ? 1 : 0;
        case effGetPlugCategory: return getPlugCategory();
        case effGetEffectName: return text && getEffectName(text) ? 1 : 0;
        case effGetVendorString: return text && getVendorString(text) ? 1 : 0;
        case effGetProductString: return text && getProductString(text) ? 1 : 0;
        case effGetVendorVersion: return getVendorVersion();
        case effCanDo: return text ? canDo(text) : 0;
        case effGetVstVersion: return getVstVersion();
        case effGetCurrentMidiProgram: return getCurrentMidiProgram();
        case effGetSpeakerArrangement:
            // No arrangement of our own: both places get a null arrangement pointer.
            if (value != 0) *reinterpret_cast<VstSpeakerArrangement**>(value) = nullptr;
            if (ptr != nullptr) *static_cast<VstSpeakerArrangement**>(ptr) = nullptr;
            return 0;
        case effSetTotalSampleToProcess: return value;
        default:
            if (opcode >= effProcessEvents && opcode <= effGetNumMidiOutputChannels) return 0;
            return AudioEffect::dispatcher(opcode, index, value, ptr, opt);
    }
}

void AudioEffectX::resume() {
    static char midiCapability[] = "receiveVstMidiEvent";
    if ((cEffect.flags & effFlagsIsSynth) != 0 || canDo(midiCapability) == 1) wantEvents();
}

VstTimeInfo* AudioEffectX::getTimeInfo(VstInt32 filter) {
    if (audioMaster == nullptr) return nullptr;
    return reinterpret_cast<VstTimeInfo*>(audioMaster(&cEffect, audioMasterGetTime, 0, filter, nullptr, 0.0f));
}
