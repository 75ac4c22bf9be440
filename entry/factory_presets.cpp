#include "entry/factory_presets.h"

#include <cctype>
#include <cstring>

namespace vintrel {

const FactoryPreset* factoryPreset(const std::string& name) {
    auto same = [&](const char* other) {
        std::size_t i = 0;
        for (; i < name.size() && other[i] != '\0'; ++i)
            if (std::tolower(static_cast<unsigned char>(name[i])) != std::tolower(static_cast<unsigned char>(other[i])))
                return false;
        return i == name.size() && other[i] == '\0';
    };
    for (const FactoryPreset& preset : kFactoryPresets)
        if (same(preset.name)) return &preset;
    return nullptr;
}

const FactoryPreset* factoryPresetByKey(const char* key) {
    if (key == nullptr) return nullptr;
    for (const FactoryPreset& preset : kFactoryPresets)
        if (std::strcmp(preset.key, key) == 0) return &preset;
    return nullptr;
}

std::array<double, kPresetParameterCount> presetTargets(const FactoryPreset& preset) {
    std::array<double, kPresetParameterCount> targets{};  // the alignment's none is 0 ms, normal
    for (std::size_t i = 0; i < preset.values.size(); ++i) targets[i] = preset.values[i];
    return targets;
}

}  // namespace vintrel
