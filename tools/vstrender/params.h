// Setting a plug-in's parameters the way a user names them: by name or index, in the units
// the plug-in displays, or normalised with a ":n" suffix.
#pragma once

#include <string>

#include "host/vst_host.h"

namespace vstrender {

// Case-insensitive name or decimal index; on failure the error lists the names there are.
bool findParameter(vsthost::Plugin& plugin, const std::string& name, VstInt32& index, std::string& error);

// VST 2 has no request that turns a text into a value, so this searches the normalised
// range for the value whose display text matches. On failure the parameter is left as it
// was and the error names the nearest reachable value.
bool applyParameterValue(vsthost::Plugin& plugin, VstInt32 index, const std::string& value, std::string& error);

std::string listParameters(vsthost::Plugin& plugin);

}  // namespace vstrender
