// What the renderer writes: the output's container and sample type, from its name, --format
// and --bits, and which of the plug-in's outputs go into it.
#pragma once

#include <string>
#include <vector>

#include "tools/vstrender/options.h"

namespace vstrender {

// A libsndfile format; a refusal when the name, --format and --bits disagree or are unknown.
int outputFormat(const Options& o, int inputFormat);
// Integer samples, which clip at full scale.
bool isPcm(int format);
// The outputs --outputs picks, counted from 0; by default the first two.
std::vector<int> parseOutputs(const std::string& list, int available);

}  // namespace vstrender
