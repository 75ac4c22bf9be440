// The plug-in the renderer drives: loaded, set from a preset and --param values, a second
// instance for the A/B comparison, and its state saved as a program file.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/vst_host.h"

namespace vstrender {

struct LoadedPlugin {
    std::unique_ptr<vsthost::Module> module;
    std::unique_ptr<vsthost::Plugin> instance;
};

// An opened instance of the module at `path`; refused when it is not a VST 2 plug-in.
LoadedPlugin loadPlugin(const std::string& path);
std::unique_ptr<vsthost::Plugin> anotherInstance(const LoadedPlugin& p);
// The DI's alignment a preset holds beside the decoder's settings (a VST 3 preset file saved by
// a host holds one); none for a program file or a factory preset.
struct PresetAlignment {
    double delayMs = 0;
    bool inverted = false;
};
// A program file's state, a VST 3 preset file's or a factory preset's; refused when it is none
// of them or another plug-in saved it.
PresetAlignment loadPreset(vsthost::Plugin& plugin, const std::string& path);
// NAME=VALUE settings in order; refused at the first that cannot be set.
void applyParameters(vsthost::Plugin& plugin, const std::vector<std::string>& settings);
// For the guitar decoder, an instance with the same settings switched to the plain mid/side
// decode; null for a plug-in without that switch.
std::unique_ptr<vsthost::Plugin> plainDecodeOf(const LoadedPlugin& p);
// The plug-in's state as a program file at `path`.
void savePreset(vsthost::Plugin& plugin, const std::string& path);

}  // namespace vstrender
