// Vectorscopes (goniometers) of stereo pairs, written as one PNG: the editor's scope drawing,
// a panel per pair side by side under a title that names the file and the settings. Each
// panel has its level scale (chosen from the take's peak, or logarithmic), overloads marked in
// red, its peaks and a correlation meter.
#pragma once

#include <string>
#include <vector>

#include "editor/scope.h"

namespace vstrender {

using Scope = editor::ScopeData;

struct ScopePanel {
    const Scope* scope;
    std::string caption;  // what the panel shows, e.g. "outputs 1 and 2, as set"
};

// Draws the panels side by side under a title of a few lines; false with `error` said.
bool writeScopePicture(const std::string& path, const std::vector<std::string>& title,
                       const std::vector<ScopePanel>& panels, bool logarithmic, std::string& error);

}  // namespace vstrender
