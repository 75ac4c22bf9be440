#include "host/vst_host.h"

#include <cstring>

namespace vsthost {

namespace {
// The plug-in calls back during its entry, before the host knows its record.
thread_local Plugin* instantiating = nullptr;
}  // namespace

std::unique_ptr<Module> Module::load(const std::string& path, std::string& error) {
    std::unique_ptr<Module> module(new Module);
    module->library_ = host::SharedLibrary::open(path, error);
    if (!module->library_) return nullptr;
    module->entry_ = module->symbol("VSTPluginMain");
    if (module->entry_ == nullptr) module->entry_ = module->symbol("main");
    if (module->entry_ == nullptr) {
        error = path + " is not a VST 2 plug-in: it exports neither VSTPluginMain nor main";
        return nullptr;
    }
    return module;
}

Plugin::~Plugin() {
    if (effect_ != nullptr) close();
}

bool Plugin::instantiate(VstPluginMainProc entry) {
    if (entry == nullptr || effect_ != nullptr) return false;
    instantiating = this;
    AEffect* effect = entry(callback);
    instantiating = nullptr;
    if (effect == nullptr || effect->magic != kEffectMagic) return false;
    effect_ = effect;
    effect_->user = this;
    return true;
}

VstIntPtr VSTCALLBACK Plugin::callback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* /*ptr*/,
                                       float /*opt*/) {
    Plugin* host = effect != nullptr && effect->user != nullptr ? static_cast<Plugin*>(effect->user) : instantiating;
    if (host == nullptr) return opcode == audioMasterVersion ? 2400 : 0;
    return host->answer(effect, opcode, index, value);
}

VstIntPtr Plugin::answer(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value) {
    if (recordCalls) calls.push_back(HostCall{opcode, index, value, effect != nullptr});
    switch (opcode) {
        case audioMasterVersion: return versionAnswer;
        case audioMasterGetTime: return provideTimeInfo ? reinterpret_cast<VstIntPtr>(&timeInfo) : 0;
        default: return 0;
    }
}

VstIntPtr Plugin::dispatch(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
    return effect_ ? effect_->dispatcher(effect_, opcode, index, value, ptr, opt) : 0;
}

void Plugin::open() { dispatch(effOpen); }

VstIntPtr Plugin::close() {
    const VstIntPtr result = dispatch(effClose);
    effect_ = nullptr;
    return result;
}

void Plugin::setSampleRate(float rate) { dispatch(effSetSampleRate, 0, 0, nullptr, rate); }
void Plugin::setBlockSize(VstInt32 frames) { dispatch(effSetBlockSize, 0, frames); }
void Plugin::resume() { dispatch(effMainsChanged, 0, 1); }
void Plugin::suspend() { dispatch(effMainsChanged, 0, 0); }

std::string Plugin::text(VstInt32 opcode, VstInt32 index) {
    char buffer[256] = {};  // larger than any published text size
    dispatch(opcode, index, 0, buffer);
    buffer[sizeof buffer - 1] = '\0';
    return buffer;
}

std::string Plugin::effectName() { return text(effGetEffectName); }
std::string Plugin::vendorString() { return text(effGetVendorString); }
std::string Plugin::productString() { return text(effGetProductString); }
std::string Plugin::programName() { return text(effGetProgramName); }
std::string Plugin::parameterName(VstInt32 index) { return text(effGetParamName, index); }
std::string Plugin::parameterLabel(VstInt32 index) { return text(effGetParamLabel, index); }
std::string Plugin::parameterDisplay(VstInt32 index) { return text(effGetParamDisplay, index); }

void Plugin::setProgramName(const std::string& name) {
    std::vector<char> copy(name.begin(), name.end());
    copy.push_back('\0');
    dispatch(effSetProgramName, 0, 0, copy.data());
}

void Plugin::setParameter(VstInt32 index, float value) {
    if (effect_) effect_->setParameter(effect_, index, value);
}

float Plugin::getParameter(VstInt32 index) { return effect_ ? effect_->getParameter(effect_, index) : 0.0f; }

void Plugin::process(float** inputs, float** outputs, VstInt32 frames) {
    if (effect_) effect_->processReplacing(effect_, inputs, outputs, frames);
}

void Plugin::process(double** inputs, double** outputs, VstInt32 frames) {
    if (effect_) effect_->processDoubleReplacing(effect_, inputs, outputs, frames);
}

std::vector<std::uint8_t> Plugin::getChunk(bool preset) {
    void* data = nullptr;
    const VstIntPtr size = dispatch(effGetChunk, preset ? 1 : 0, 0, &data);
    if (size <= 0 || data == nullptr) return {};
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    return std::vector<std::uint8_t>(bytes, bytes + size);
}

VstIntPtr Plugin::setChunk(const std::vector<std::uint8_t>& data, bool preset) {
    // Some plug-ins keep the pointer until the call returns only; hand them our own copy.
    chunkCopy_ = data;
    return dispatch(effSetChunk, preset ? 1 : 0, static_cast<VstIntPtr>(chunkCopy_.size()),
                    chunkCopy_.empty() ? nullptr : chunkCopy_.data());
}

}  // namespace vsthost
