// What the renderer says about a finished render: clipping, a cut input, levels and
// correlation, silent outputs, and the vectorscope picture.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "host/vst_host.h"
#include "tools/vstrender/inputs.h"
#include "tools/vstrender/meters.h"
#include "tools/vstrender/options.h"
#include "tools/vstrender/render.h"
#include "tools/vstrender/scope.h"

namespace vstrender {

// Counts and headroom of clipped outputs: warnings, or with --on-clip error a failure.
void reportClipping(const Options& o, const std::vector<int>& picked, const RenderResult& result,
                    const Meters& meters, bool pcm);
// An input shorter than its header announced: a failure, or with --allow-short a warning.
void reportShortInput(const Options& o, const Inputs& inputs, const RenderResult& result, int sampleRate);
// Frames, speed, and each output's peak and RMS with the pair's correlation.
void printSummary(FILE* report, const Options& o, const std::vector<int>& picked, const RenderResult& result,
                  const Meters& meters, int sampleRate);
// Output 3 of the decoder carries the DI only when routed there: say how, if it is silent.
void warnSilentOutputs(vsthost::Plugin& plugin, const std::vector<int>& picked, const Meters& meters);
// The vectorscope picture: outputs 1 and 2 as set, and the plain decode beside them when there is one.
void writeScopeFile(const Options& o, const Inputs& inputs, const std::string& settings, const Scope& scope,
                    const Scope* plainScope);
// The plug-in's parameter values in words, those that differ from a fresh instance's.
std::string changedSettings(vsthost::Plugin& plugin, vsthost::Plugin& fresh);

}  // namespace vstrender
