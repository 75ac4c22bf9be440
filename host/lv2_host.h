// A small LV2 host: loads a plug-in's module from its bundle and drives one instance through
// the LV2 descriptor, as a host does. For tests.
#pragma once

#include <lv2/core/lv2.h>

#include <cstdint>
#include <memory>
#include <string>

#include "host/shared_library.h"

namespace lv2host {

class Instance {
public:
    // The plug-in with this URI from the module at `binary`, given these features (none when
    // null); null with `error` said.
    static std::unique_ptr<Instance> load(const std::string& binary, const std::string& uri, double sampleRate,
                                          std::string& error, const LV2_Feature* const* features = nullptr);
    ~Instance();
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    void connect(std::uint32_t port, void* data) { descriptor_->connect_port(handle_, port, data); }
    void activate();
    void deactivate();
    void run(std::uint32_t frames) { descriptor_->run(handle_, frames); }
    const void* extensionData(const char* uri) const {
        return descriptor_->extension_data ? descriptor_->extension_data(uri) : nullptr;
    }
    LV2_Handle handle() const { return handle_; }

private:
    Instance() = default;
    std::unique_ptr<host::SharedLibrary> module_;
    const LV2_Descriptor* descriptor_ = nullptr;
    LV2_Handle handle_ = nullptr;
    bool active_ = false;
};

}  // namespace lv2host
