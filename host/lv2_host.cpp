#include "host/lv2_host.h"


namespace lv2host {

std::unique_ptr<Instance> Instance::load(const std::string& binary, const std::string& uri, double sampleRate,
                                         std::string& error, const LV2_Feature* const* features) {
    std::unique_ptr<Instance> instance(new Instance);
    instance->module_ = host::SharedLibrary::open(binary, error);
    if (!instance->module_) return nullptr;
    auto entry = reinterpret_cast<LV2_Descriptor_Function>(instance->module_->symbol("lv2_descriptor"));
    if (entry == nullptr) {
        error = binary + " has no lv2_descriptor";
        return nullptr;
    }
    for (std::uint32_t i = 0; const LV2_Descriptor* d = entry(i); ++i)
        if (uri == d->URI) instance->descriptor_ = d;
    if (instance->descriptor_ == nullptr) {
        error = binary + " has no plug-in " + uri;
        return nullptr;
    }
    const std::string bundle = binary.substr(0, binary.find_last_of('/') + 1);
    const LV2_Feature* const noFeatures[] = {nullptr};
    instance->handle_ = instance->descriptor_->instantiate(instance->descriptor_, sampleRate, bundle.c_str(),
                                                           features != nullptr ? features : noFeatures);
    if (instance->handle_ == nullptr) {
        error = uri + " gave no instance";
        return nullptr;
    }
    return instance;
}

Instance::~Instance() {
    if (handle_ != nullptr) {
        if (active_) deactivate();
        descriptor_->cleanup(handle_);
    }
}

void Instance::activate() {
    if (descriptor_->activate) descriptor_->activate(handle_);
    active_ = true;
}

void Instance::deactivate() {
    if (descriptor_->deactivate) descriptor_->deactivate(handle_);
    active_ = false;
}

}  // namespace lv2host
