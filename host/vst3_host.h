// A small VST 3 host: loads a module, creates the one class it offers, and drives it as hosts
// do (both roles of a single-object plug-in, streams that move few bytes per call, parameter
// changes at sample offsets). For tests.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/shared_library.h"
#include "vst3/vst3_api.h"

namespace vst3host {

using namespace vst3;

class Module {
public:
    static std::unique_ptr<Module> load(const std::string& path, std::string& error);
    ~Module();
    IPluginFactory* factory() const { return factory_; }

private:
    Module() = default;
    std::unique_ptr<host::SharedLibrary> library_;
    IPluginFactory* factory_ = nullptr;
};

// A stream over bytes that moves at most `step` bytes per call and fails from `failAfter` on.
class MemoryStream final : public IBStream {
public:
    explicit MemoryStream(std::vector<std::uint8_t> bytes = {}, std::size_t step = 1 << 20,
                          std::size_t failAfter = SIZE_MAX)
        : bytes(std::move(bytes)), step(step), failAfter(failAfter) {}
    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override;
    uint32 PLUGIN_API addRef() override { return 1; }  // lives on the test's stack
    uint32 PLUGIN_API release() override { return 1; }
    tresult PLUGIN_API read(void* buffer, int32 numBytes, int32* numBytesRead) override;
    tresult PLUGIN_API write(void* buffer, int32 numBytes, int32* numBytesWritten) override;
    tresult PLUGIN_API seek(int64 pos, int32 mode, int64* result) override;
    tresult PLUGIN_API tell(int64* pos) override;

    std::vector<std::uint8_t> bytes;
    std::size_t position = 0, step, failAfter;
};

// The points of one parameter in a processing call, in the order they were added.
class Queue final : public IParamValueQueue {
public:
    explicit Queue(ParamID id) : id(id) {}
    tresult PLUGIN_API queryInterface(const TUID, void** obj) override {
        *obj = nullptr;
        return kNoInterface;
    }
    uint32 PLUGIN_API addRef() override { return 1; }
    uint32 PLUGIN_API release() override { return 1; }
    ParamID PLUGIN_API getParameterId() override { return id; }
    int32 PLUGIN_API getPointCount() override { return static_cast<int32>(points.size()); }
    tresult PLUGIN_API getPoint(int32 index, int32& offset, ParamValue& value) override {
        if (index < 0 || index >= getPointCount()) return kInvalidArgument;
        offset = points[static_cast<std::size_t>(index)].first;
        value = points[static_cast<std::size_t>(index)].second;
        return kResultOk;
    }
    tresult PLUGIN_API addPoint(int32 offset, ParamValue value, int32& index) override {
        index = getPointCount();
        points.emplace_back(offset, value);
        return kResultOk;
    }
    ParamID id;
    std::vector<std::pair<int32, ParamValue>> points;
};

struct Change {
    int32 offset;
    ParamID id;
    ParamValue normalized;
};

// One queue per parameter, points in order of offset, as the interface wants them; made once,
// it can be given to many calls.
class Changes final : public IParameterChanges {
public:
    explicit Changes(std::vector<Change> changes);
    tresult PLUGIN_API queryInterface(const TUID, void** obj) override {
        *obj = nullptr;
        return kNoInterface;
    }
    uint32 PLUGIN_API addRef() override { return 1; }
    uint32 PLUGIN_API release() override { return 1; }
    int32 PLUGIN_API getParameterCount() override { return static_cast<int32>(queues.size()); }
    IParamValueQueue* PLUGIN_API getParameterData(int32 index) override {
        return index >= 0 && index < getParameterCount() ? queues[static_cast<std::size_t>(index)].get() : nullptr;
    }
    IParamValueQueue* PLUGIN_API addParameterData(const ParamID& id, int32& index) override;
    std::vector<std::unique_ptr<Queue>> queues;
};

class Plugin {
public:
    // The class at index 0, created, initialised in both roles and with its buses set up.
    static std::unique_ptr<Plugin> create(const Module& module, std::string& error);
    ~Plugin();

    IComponent* component() const { return component_; }
    IAudioProcessor* processor() const { return processor_; }
    IEditController* controller() const { return controller_; }

    // A .vstpreset file's states into the plug-in; false, with the reason in words, for a file
    // of another class or one that is no preset file (the plug-in is then as it was).
    bool loadPresetFile(const std::vector<std::uint8_t>& bytes, std::string& error);
    const char* classId() const { return classId_; }

    bool start(double rate, int32 maxBlock, int32 sampleSize);  // setupProcessing, active, processing
    void stop();
    // One processing call with these changes, three channels each way.
    template <class Sample>
    tresult process(Sample** inputs, Sample** outputs, int32 frames, const std::vector<Change>& changes = {},
                    ProcessContext* context = nullptr);
    template <class Sample>
    tresult process(Sample** inputs, Sample** outputs, int32 frames, Changes& changes,
                    ProcessContext* context = nullptr);

    // The silence flags of the next call's input bus, and those the plug-in gave its output bus.
    uint64 inputSilence = 0, outputSilence = 0;

private:
    Plugin() = default;
    IComponent* component_ = nullptr;
    IAudioProcessor* processor_ = nullptr;
    IEditController* controller_ = nullptr;
    bool started_ = false;
    TUID classId_ = {};
};

}  // namespace vst3host
