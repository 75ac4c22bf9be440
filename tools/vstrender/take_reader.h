// The take as the plug-in's input channels, block by block: the inputs' channels in order
// (for the guitar decoder: mid, side, DI), the DI moved in time or polarity when asked. The
// renderer and the analysis read through it, so both see the same samples.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "align/di_aligner.h"
#include "align/tone_match.h"
#include "tools/vstrender/inputs.h"

namespace vstrender {

// A change to the DI channel before decoding: a delay in samples (fractions allowed; < 0 moves
// it earlier) and its polarity, then its tone matched to the microphones' through these
// sections, as the plug-ins do it.
struct DiShift {
    double delaySamples = 0;
    bool invert = false;
    bool matchTone = false;
    align::Sections tone{};
    bool any() const { return delaySamples != 0 || invert || matchTone; }
};

// The DI channel read a second time, from its own handle on its file, through the plug-ins'
// alignment stage and tone match. A DI moved earlier is the stage's output advanced by the latency it reports
// (the stage delays the microphones instead): read that far ahead, exactly what a host's delay
// compensation makes of the plug-in. Keeps the take's length: silence comes in where the DI
// has moved away.
template <class Sample>
class ShiftedChannel {
public:
    ShiftedChannel(const InputFile& input, int channel, const DiShift& shift);
    ~ShiftedChannel();
    ShiftedChannel(const ShiftedChannel&) = delete;
    ShiftedChannel& operator=(const ShiftedChannel&) = delete;
    // The next `frames` samples of the shifted DI.
    void next(Sample* out, std::size_t frames);

private:
    void readDi(std::size_t frames);  // the DI's next samples into di_, silence past its end

    SNDFILE* file_ = nullptr;
    int channels_, channel_;
    align::DiAligner aligner_;
    bool matchTone_;
    align::ToneFilter tone_;
    std::vector<Sample> frames_, di_, silence_, microphones_;
};

template <class Sample>
class TakeReader {
public:
    // Fills `channels` plug-in inputs; those past the inputs' channels stay silent.
    TakeReader(Inputs& inputs, int channels, const DiShift& shift);
    // Up to `frames` frames into channels[0 .. channels); answers how many, fewer where an input
    // ends early.
    std::size_t read(Sample* const* channels, std::size_t frames);

private:
    Inputs& inputs_;
    int channels_;
    std::vector<Sample> fileBlock_;
    std::unique_ptr<ShiftedChannel<Sample>> di_;
};

// Back to the first frame of every input, for a second pass.
void rewind(Inputs& inputs);

// The DI, the third channel of the inputs taken together: which input, which of its channels.
bool findDi(const Inputs& inputs, std::size_t& input, int& channel);

}  // namespace vstrender
