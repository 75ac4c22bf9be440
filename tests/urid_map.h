// A host's map of URIs to numbers, as LV2's state and options ask for, and the feature that
// gives it to a plug-in.
#pragma once

#include <lv2/core/lv2.h>
#include <lv2/urid/urid.h>

#include <string>
#include <vector>

struct UridMap {
    UridMap() = default;
    UridMap(const UridMap&) = delete;
    UridMap& operator=(const UridMap&) = delete;
    LV2_URID operator()(const char* uri) { return map.map(map.handle, uri); }

    std::vector<std::string> uris;
    LV2_URID_Map map{this, [](LV2_URID_Map_Handle handle, const char* uri) -> LV2_URID {
                         auto& known = static_cast<UridMap*>(handle)->uris;
                         for (std::size_t i = 0; i < known.size(); ++i)
                             if (known[i] == uri) return static_cast<LV2_URID>(i + 1);
                         known.emplace_back(uri);
                         return static_cast<LV2_URID>(known.size());
                     }};
    LV2_Feature feature{LV2_URID__map, &map};
};
