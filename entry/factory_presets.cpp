#include "entry/factory_presets.h"

#include <cctype>

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

}  // namespace vintrel
