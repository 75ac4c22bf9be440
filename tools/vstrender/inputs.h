// The audio files the renderer reads: opened and checked against each other before a frame is
// read, each knowing how long its header says it is.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/vstrender/options.h"

namespace vstrender {

struct InputFile {
    std::string path, name;  // name as the user gave it
    SNDFILE* file = nullptr;
    SF_INFO info{};
    std::uint64_t announced = 0;  // the frames the header promises, which a cut file lacks
    ~InputFile() {
        if (file) sf_close(file);
    }
};

using Inputs = std::vector<std::unique_ptr<InputFile>>;

// Every input, with the same rate and length; a refusal or failure naming the one that is not.
Inputs openInputs(const Options& o);
// The inputs' channels against the plug-in's inputs: too few is refused, too many warned of.
void checkChannelCount(const Inputs& inputs, int pluginInputs);

}  // namespace vstrender
