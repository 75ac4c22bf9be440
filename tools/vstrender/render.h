// The render loop: the inputs streamed through the plug-in in blocks, the picked outputs
// written, measured and drawn as they pass.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <vector>

#include "host/vst_host.h"
#include "tools/vstrender/inputs.h"
#include "tools/vstrender/meters.h"
#include "tools/vstrender/scope.h"
#include "tools/vstrender/take_reader.h"

namespace vstrender {

// What the render needs beside the plug-in: where it writes, what it measures.
struct Render {
    vsthost::Plugin* plain = nullptr;  // the plain mid/side decode, for the A/B scope
    SNDFILE* out = nullptr;
    std::vector<int> picked;
    int blockSize = 512;
    bool countClips = false, quiet = false;
    Meters* meters = nullptr;
    Scope *scope = nullptr, *plainScope = nullptr;
    DiShift diShift;  // applied to the DI before decoding
};

struct RenderResult {
    std::uint64_t frames = 0;
    double seconds = 0.0;
    std::vector<std::uint64_t> clipped;
};

// Memory does not grow with the files. Stops where an input ends, which is before its header
// says when the file is damaged.
RenderResult renderTake(vsthost::Plugin& plugin, Inputs& inputs, const Render& r, bool useDouble);

}  // namespace vstrender
