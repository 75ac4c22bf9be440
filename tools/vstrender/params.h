// Setting a plug-in's parameters the way a user names them: by name or index, in the units
// the plug-in displays, or normalised with a ":n" suffix; and listing them.
#pragma once

#include <string>

#include "host/vst_host.h"

namespace vstrender {

// Case-insensitive name or decimal index; on failure the error lists the names there are.
bool findParameter(vsthost::Plugin& plugin, const std::string& name, VstInt32& index, std::string& error);

// The unit a parameter is in: its label, or for the decoder the unit its parameter table gives.
std::string unitOf(vsthost::Plugin& plugin, VstInt32 index);

// VST 2 has no request that turns a text into a value, so this searches the normalised
// range for the value whose display text matches. A number between two steps is rounded to
// the nearest step, and `note` says so; "-inf" sets a level to the bottom of its range. On
// failure the parameter is left as it was and the error names the nearest reachable value.
bool applyParameterValue(vsthost::Plugin& plugin, VstInt32 index, const std::string& value, std::string& error,
                         std::string& note);

// A table of every parameter: its value, range, step, default, unit and a switch's labels.
// `fresh` is an instance nobody has changed, whose parameters the listing may move about.
// The guitar decoder's factory presets: each name, what it is for and the settings it makes.
std::string listPresets();

std::string listParameters(vsthost::Plugin& plugin, vsthost::Plugin& fresh);

}  // namespace vstrender
