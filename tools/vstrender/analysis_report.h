// The analysis in words for a reader, as one JSON object for scripts, and as a picture.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "tools/vstrender/analysis.h"

namespace vstrender {

// What to do about the take, one sentence each, most important first.
std::vector<std::string> advice(const Analysis& a);
void printAnalysis(FILE* out, const Analysis& a);
// Fields carry their unit in their name; a value that does not exist (no reliable estimate, a
// silent channel's level) is null.
std::string analysisJson(const Analysis& a);
// One sheet: the decoded pair's levels and correlation over time, and the DI's
// cross-correlation with the mid microphone, whole and around its peak. False with `error`.
bool writeAnalysisPlot(const std::string& path, const Analysis& a, std::string& error);

// "DI leads the mid microphone by 1.42 ms (68.2 samples at 48 kHz)".
std::string describeDelay(double delaySamples, int sampleRate, const char* against);
// A learned tone match in words: its largest lift and cut and where it is held, or that it is
// held flat throughout.
std::string describeCurve(const align::ToneCurve& curve);

}  // namespace vstrender
