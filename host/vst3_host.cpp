#include "host/vst3_host.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "vst3/vst3_identity.h"
#include "vst3/vst3_preset_file.h"

namespace vst3host {

std::unique_ptr<Module> Module::load(const std::string& path, std::string& error) {
    std::unique_ptr<Module> module(new Module);
    module->library_ = host::SharedLibrary::open(path, error);
    if (!module->library_) return nullptr;
#if defined(_WIN32)
    if (auto init = reinterpret_cast<bool (*)()>(module->library_->symbol("InitDll")); init && !init()) {
        error = path + ": InitDll failed";
        return nullptr;
    }
#else
    auto entry = reinterpret_cast<bool (*)(void*)>(module->library_->symbol("ModuleEntry"));
    if (entry == nullptr || module->library_->symbol("ModuleExit") == nullptr) {
        error = path + " lacks ModuleEntry or ModuleExit, which hosts require";
        return nullptr;
    }
    if (!entry(nullptr)) {
        error = path + ": ModuleEntry failed";
        return nullptr;
    }
#endif
    auto getFactory = reinterpret_cast<IPluginFactory*(PLUGIN_API*)()>(module->library_->symbol("GetPluginFactory"));
    module->factory_ = getFactory ? getFactory() : nullptr;
    if (module->factory_ == nullptr) {
        error = path + " gives no plug-in factory";
        return nullptr;
    }
    return module;
}

Module::~Module() {
    if (factory_ != nullptr) factory_->release();
#if defined(_WIN32)
    if (auto exit = reinterpret_cast<bool (*)()>(library_->symbol("ExitDll"))) exit();
#else
    if (library_)
        if (auto exit = reinterpret_cast<bool (*)()>(library_->symbol("ModuleExit"))) exit();
#endif
}

tresult PLUGIN_API MemoryStream::queryInterface(const TUID iid, void** obj) {
    if (sameUid(iid, FUnknown::iid) || sameUid(iid, IBStream::iid)) {
        *obj = this;
        return kResultOk;
    }
    *obj = nullptr;
    return kNoInterface;
}

tresult PLUGIN_API MemoryStream::read(void* buffer, int32 numBytes, int32* numBytesRead) {
    if (position >= failAfter || numBytes < 0) return kResultFalse;
    const std::size_t n = std::min({static_cast<std::size_t>(numBytes), step, bytes.size() - std::min(position, bytes.size()),
                                    failAfter - position});
    if (n > 0) std::memcpy(buffer, bytes.data() + position, n);
    position += n;
    if (numBytesRead) *numBytesRead = static_cast<int32>(n);
    return kResultOk;
}

tresult PLUGIN_API MemoryStream::write(void* buffer, int32 numBytes, int32* numBytesWritten) {
    if (position >= failAfter || numBytes < 0) return kResultFalse;
    const std::size_t n = std::min({static_cast<std::size_t>(numBytes), step, failAfter - position});
    if (bytes.size() < position + n) bytes.resize(position + n);
    if (n > 0) std::memcpy(bytes.data() + position, buffer, n);
    position += n;
    if (numBytesWritten) *numBytesWritten = static_cast<int32>(n);
    return kResultOk;
}

tresult PLUGIN_API MemoryStream::seek(int64 pos, int32 mode, int64* result) {
    const int64 base = mode == kIBSeekSet ? 0 : mode == kIBSeekCur ? static_cast<int64>(position) : static_cast<int64>(bytes.size());
    if (base + pos < 0) return kInvalidArgument;
    position = static_cast<std::size_t>(base + pos);
    if (result) *result = static_cast<int64>(position);
    return kResultOk;
}

tresult PLUGIN_API MemoryStream::tell(int64* pos) {
    if (pos == nullptr) return kInvalidArgument;
    *pos = static_cast<int64>(position);
    return kResultOk;
}

std::unique_ptr<Plugin> Plugin::create(const Module& module, std::string& error) {
    std::unique_ptr<Plugin> p(new Plugin);
    PClassInfo info;
    if (module.factory()->getClassInfo(0, &info) != kResultOk) {
        error = "the factory describes no class";
        return nullptr;
    }
    std::memcpy(p->classId_, info.cid, sizeof p->classId_);
    void* object = nullptr;
    if (module.factory()->createInstance(info.cid, IComponent::iid.bytes, &object) != kResultOk || !object) {
        error = "the factory made no component";
        return nullptr;
    }
    p->component_ = static_cast<IComponent*>(object);
    if (p->component_->queryInterface(IAudioProcessor::iid.bytes, &object) != kResultOk) {
        error = "the component is no audio processor";
        return nullptr;
    }
    p->processor_ = static_cast<IAudioProcessor*>(object);
    // A plug-in without a controller class of its own is its own controller.
    TUID controllerClass;
    if (p->component_->getControllerClassId(controllerClass) == kResultOk ||
        p->component_->queryInterface(IEditController::iid.bytes, &object) != kResultOk) {
        error = "the plug-in is not its own controller";
        return nullptr;
    }
    p->controller_ = static_cast<IEditController*>(object);
    if (p->component_->initialize(nullptr) != kResultOk || p->controller_->initialize(nullptr) != kResultOk) {
        error = "initialize failed";
        return nullptr;
    }
    return p;
}

Plugin::~Plugin() {
    if (started_) stop();
    if (controller_) {
        controller_->terminate();
        controller_->release();
    }
    if (component_) component_->terminate();
    if (processor_) processor_->release();
    if (component_) component_->release();
}

bool Plugin::start(double rate, int32 maxBlock, int32 sampleSize) {
    SpeakerArrangement in = SpeakerArr::k30Cine, out = SpeakerArr::k30Cine;
    ProcessSetup setup{kRealtime, sampleSize, maxBlock, rate};
    started_ = processor_->setBusArrangements(&in, 1, &out, 1) == kResultTrue &&
               processor_->canProcessSampleSize(sampleSize) == kResultTrue &&
               processor_->setupProcessing(setup) == kResultOk && component_->setActive(1) == kResultOk &&
               processor_->setProcessing(1) == kResultOk;
    return started_;
}

void Plugin::stop() {
    processor_->setProcessing(0);
    component_->setActive(0);
    started_ = false;
}

Changes::Changes(std::vector<Change> changes) {
    std::stable_sort(changes.begin(), changes.end(), [](const Change& a, const Change& b) { return a.offset < b.offset; });
    for (const Change& c : changes) {
        int32 index = 0;
        addParameterData(c.id, index)->addPoint(c.offset, c.normalized, index);
    }
}

IParamValueQueue* PLUGIN_API Changes::addParameterData(const ParamID& id, int32& index) {
    for (std::size_t i = 0; i < queues.size(); ++i)
        if (queues[i]->id == id) {
            index = static_cast<int32>(i);
            return queues[i].get();
        }
    index = getParameterCount();
    queues.push_back(std::make_unique<Queue>(id));
    return queues.back().get();
}

template <class Sample>
tresult Plugin::process(Sample** inputs, Sample** outputs, int32 frames, const std::vector<Change>& changes,
                        ProcessContext* context) {
    Changes parameterChanges(changes);
    return process(inputs, outputs, frames, parameterChanges, context);
}

template <class Sample>
tresult Plugin::process(Sample** inputs, Sample** outputs, int32 frames, Changes& parameterChanges,
                        ProcessContext* context) {
    AudioBusBuffers in{}, out{};
    in.numChannels = out.numChannels = 3;
    if constexpr (sizeof(Sample) == sizeof(double)) {
        in.channelBuffers64 = inputs;
        out.channelBuffers64 = outputs;
    } else {
        in.channelBuffers32 = inputs;
        out.channelBuffers32 = outputs;
    }
    ProcessData data{};
    data.processMode = kRealtime;
    data.symbolicSampleSize = sizeof(Sample) == sizeof(double) ? kSample64 : kSample32;
    data.numSamples = frames;
    data.numInputs = data.numOutputs = 1;
    data.inputs = &in;
    data.outputs = &out;
    data.inputParameterChanges = &parameterChanges;
    data.processContext = context;
    in.silenceFlags = inputSilence;
    out.silenceFlags = ~uint64{0};  // whatever the plug-in leaves is what it says
    const tresult result = processor_->process(data);
    outputSilence = out.silenceFlags;
    return result;
}
template tresult Plugin::process<float>(float**, float**, int32, const std::vector<Change>&, ProcessContext*);
template tresult Plugin::process<double>(double**, double**, int32, const std::vector<Change>&, ProcessContext*);
template tresult Plugin::process<float>(float**, float**, int32, Changes&, ProcessContext*);
template tresult Plugin::process<double>(double**, double**, int32, Changes&, ProcessContext*);

// As hosts load a preset file: only one written for this class; the component's state to the
// component, the same bytes to the controller, then the controller's own state if there is one.
bool Plugin::loadPresetFile(const std::vector<std::uint8_t>& bytes, std::string& error) {
    vst3preset::PresetFile preset;
    if (!vst3preset::decode(bytes.data(), bytes.size(), preset, error)) return false;
    const std::string ours = uidText(classId_);
    if (!vst3preset::sameClassId(preset.classId, ours)) {
        error = "it was saved by another plug-in (class " + preset.classId + "; this one is " + ours + ")";
        return false;
    }
    MemoryStream component(preset.component);
    if (component_->setState(&component) != kResultOk) {
        error = "the plug-in refused its component state";
        return false;
    }
    MemoryStream sameBytes(preset.component);
    if (controller_->setComponentState(&sameBytes) != kResultOk) {
        error = "the controller refused the component state";
        return false;
    }
    if (preset.hasController) {
        MemoryStream controller(preset.controller);
        if (controller_->setState(&controller) != kResultOk) {
            error = "the controller refused its own state";
            return false;
        }
    }
    return true;
}

}  // namespace vst3host
