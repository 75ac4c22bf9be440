// The host adapter: answers the host and turns every request that concerns the effect into
// a call of the bridge table. It knows the effect only as a pointer it owns.
#pragma once

#include <array>
#include <cstdint>

#include "adapter/audioeffect.h"
#include "runtime/bridge.h"

class TVintrel;

class CVeST final : public AudioEffectX {
public:
    static constexpr std::int32_t MidiRingSize = 1000;

    // Asks the host for its version first; a host that answers 0 (or no host) gets no adapter.
    static CVeST* Create(TVintrel* effect, const VeSTBridge& bridge, audioMasterCallback audioMaster,
                         VstInt32 numPrograms, VstInt32 numParams);
    ~CVeST() override;

    void open() override;
    void close() override;
    void suspend() override;
    void resume() override;
    void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) override;
    void processDoubleReplacing(double** inputs, double** outputs, VstInt32 sampleFrames) override;
    void setParameter(VstInt32 index, float value) override;
    float getParameter(VstInt32 index) override;
    void setProgramName(char* name) override;
    void getProgramName(char* name) override;
    void getParameterLabel(VstInt32 index, char* label) override;
    void getParameterDisplay(VstInt32 index, char* text) override;
    void getParameterName(VstInt32 index, char* text) override;
    VstInt32 getChunk(void** data, bool isPreset) override;
    VstInt32 setChunk(void* data, VstInt32 byteSize, bool isPreset) override;
    bool getProgramNameIndexed(VstInt32 category, VstInt32 index, char* text) override;
    VstInt32 processEvents(VstEvents* events) override;
    bool getEffectName(char* name) override;
    bool getVendorString(char* text) override;
    bool getProductString(char* text) override;
    VstInt32 getVendorVersion() override;
    VstIntPtr canDo(char* text) override;

    TVintrel* Effect;
    std::int32_t MidiWrite = 0;
    std::int32_t MidiRead = 0;
    std::array<VstMidiEvent, MidiRingSize> MidiRing{};
    VeSTBridge Bridge;

private:
    CVeST(TVintrel* effect, const VeSTBridge& bridge, audioMasterCallback audioMaster, VstInt32 numPrograms,
          VstInt32 numParams);
};
