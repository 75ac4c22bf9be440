// The take as the plug-in's input channels, block by block: the inputs' channels in order
// (for the guitar decoder: mid, side, DI), the DI moved in time or polarity when asked. The
// renderer and the analysis read through it, so both see the same samples.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/take/sinc.h"
#include "tools/vstrender/inputs.h"

namespace vstrender {

// A change to the DI channel before decoding: a delay in samples (fractions allowed; < 0 moves
// it earlier) and its polarity.
struct DiShift {
    double delaySamples = 0;
    bool invert = false;
    bool any() const { return delaySamples != 0 || invert; }
    // A delay within this of a whole number moves whole samples, exactly.
    static constexpr double kWholeTolerance = 0.02;
};

// The DI channel read a second time, from its own handle on its file, so samples after the
// current block are at hand for a DI that must move earlier. Keeps the take's length: silence
// comes in where the DI has moved away.
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
    void cover(std::int64_t first, std::int64_t last);  // source samples first .. last at hand

    SNDFILE* file_ = nullptr;
    int channels_, channel_;
    std::int64_t whole_;
    bool fractional_, invert_;
    take::FractionTaps taps_;
    std::int64_t position_ = 0, fileFrame_ = 0;
    std::int64_t windowStart_ = 0;
    std::vector<double> window_;  // source samples from windowStart_
    std::vector<Sample> frames_;
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
