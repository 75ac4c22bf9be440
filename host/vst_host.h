// A small VST 2 host: loads a plug-in module, creates instances through its entry, answers
// their callback and wraps the requests a host makes. Tests, the renderer and the benchmark
// use it to drive plug-ins exactly as a DAW does.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/shared_library.h"
#include "vst2/aeffect.h"

namespace vsthost {

class Module {
public:
    // Null with a message in error when the file cannot be loaded or has no entry.
    static std::unique_ptr<Module> load(const std::string& path, std::string& error);
    VstPluginMainProc entry() const { return entry_; }  // VSTPluginMain, else main
    VstPluginMainProc symbol(const char* name) const {
        return reinterpret_cast<VstPluginMainProc>(library_->symbol(name));
    }
    const std::string& path() const { return library_->path(); }

private:
    Module() = default;
    std::unique_ptr<host::SharedLibrary> library_;
    VstPluginMainProc entry_ = nullptr;
};

struct HostCall {
    VstInt32 opcode;
    VstInt32 index;
    VstIntPtr value;
    bool fromEffect;  // the record's address was passed, not null
};

class Plugin {
public:
    Plugin() = default;
    ~Plugin();
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    // Calls the entry; false when the plug-in gives no instance.
    bool instantiate(VstPluginMainProc entry);
    AEffect* effect() const { return effect_; }

    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr, float opt = 0.0f);
    void open();
    // Closes the instance (effClose); answers what the plug-in answered.
    VstIntPtr close();
    void setSampleRate(float rate);
    void setBlockSize(VstInt32 frames);
    void resume();
    void suspend();

    std::string effectName();
    std::string vendorString();
    std::string productString();
    std::string programName();
    void setProgramName(const std::string& name);
    VstInt32 numParams() const { return effect_ ? effect_->numParams : 0; }
    VstInt32 numInputs() const { return effect_ ? effect_->numInputs : 0; }
    VstInt32 numOutputs() const { return effect_ ? effect_->numOutputs : 0; }
    std::string parameterName(VstInt32 index);
    std::string parameterLabel(VstInt32 index);
    std::string parameterDisplay(VstInt32 index);
    void setParameter(VstInt32 index, float value);
    float getParameter(VstInt32 index);
    bool canDoubleReplacing() const { return effect_ && (effect_->flags & effFlagsCanDoubleReplacing) != 0; }

    void process(float** inputs, float** outputs, VstInt32 frames);
    void process(double** inputs, double** outputs, VstInt32 frames);

    // The plug-in's state as a copy of its chunk; empty when it has none.
    std::vector<std::uint8_t> getChunk(bool preset = false);
    VstIntPtr setChunk(const std::vector<std::uint8_t>& data, bool preset = false);

    // What the host answers and remembers.
    VstIntPtr versionAnswer = 2400;
    bool provideTimeInfo = true;
    VstTimeInfo timeInfo{};
    bool recordCalls = true;
    std::vector<HostCall> calls;

    static VstIntPtr VSTCALLBACK callback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                          float opt);

private:
    std::string text(VstInt32 opcode, VstInt32 index = 0);
    VstIntPtr answer(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value);

    AEffect* effect_ = nullptr;
    std::vector<std::uint8_t> chunkCopy_;
};

}  // namespace vsthost
