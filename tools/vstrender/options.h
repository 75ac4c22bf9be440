// The renderer's command line: what each option asks for, read and checked word by word.
#pragma once

#include <string>
#include <vector>

namespace vstrender {

struct Options {
    std::vector<std::string> inputs;
    std::string output, outputList, format, bits, preset, savePreset, plugin, scope, onClip = "warn";
    std::vector<std::string> params;
    // Take analysis, and moving the DI before decoding (--di-delay VALUE ms|samples).
    std::string plot, diDelay, diPolarity;
    bool analyze = false, json = false, alignDi = false, matchDi = false;
    int blockSize = 512;
    bool overwrite = false, listParams = false, listPresets = false, useDouble = false, demo = false, quiet = false, allowShort = false;
};

// Every option, or a refusal naming the first one that is wrong; --help and --version answer
// and exit.
Options parseArguments(int argc, char** argv);

// --di-delay's value in samples at `sampleRate`; refused without a unit or beyond a second.
double diDelaySamples(const std::string& value, int sampleRate);

// The guitar decoder's module: beside the build, or where an installation put it.
std::string defaultPlugin();

}  // namespace vstrender
