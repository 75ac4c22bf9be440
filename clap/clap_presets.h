// The factory presets for CLAP hosts' preset browsers: a preset discovery factory with one
// provider, whose presets are built into the module (a location of kind plugin), each with a
// load key that names it however the table is ordered; and the rule preset-load asks by.
#pragma once

#include <string>

#include "clap/clap_preset_api.h"
#include "entry/factory_presets.h"

namespace clappresets {

extern const clap_preset_discovery_factory_t kDiscoveryFactory;

// The factory preset a host asks to load by location and key; null, with the reason in words,
// for another kind of location, a location of a file, or a key of no preset.
const vintrel::FactoryPreset* presetAt(uint32_t locationKind, const char* location, const char* loadKey,
                                       std::string& error);

}  // namespace clappresets
