// What the DI's alignment must do, for every format's tests: a take whose DI is known at every
// instant, the inputs a plug-in without alignment must be given to decode the same as one with
// a whole-sample alignment, and the DI exactly as heard some fraction of a sample later.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <vector>

#include "tests/synthetic_take.h"

namespace alignment {

constexpr double kRate = 48000;
// Output 3 is the DI alone at 0 dB: "DI level" 0, "DI routing" to pin 3.
constexpr int kDiLevel = 5, kDiRouting = 7, kDelay = 11, kPolarity = 12;

template <class Sample>
using Channels = std::array<std::vector<Sample>, 3>;

struct Take {
    synthetic::Strings strings{9000.0, 11};
    // The DI at sample n (fractions allowed); the microphones are other signals of their own.
    double di(double n) const { return 0.8 * strings.at(n / kRate); }
    template <class Sample>
    Channels<Sample> channels(std::size_t frames) const {
        Channels<Sample> c;
        for (auto& channel : c) channel.resize(frames);
        for (std::size_t j = 0; j < frames; ++j) {
            const double n = static_cast<double>(j);
            c[0][j] = static_cast<Sample>(0.5 * std::sin(0.021 * n) + 0.1 * std::sin(0.37 * n));
            c[1][j] = static_cast<Sample>(0.3 * std::cos(0.013 * n));
            c[2][j] = static_cast<Sample>(di(n));
        }
        return c;
    }
};

// The inputs moved by hand: the microphones `latency` samples later, the DI `diShift` later,
// turned over when asked; silence before the start.
template <class Sample>
Channels<Sample> movedByHand(const Channels<Sample>& in, std::ptrdiff_t latency, std::ptrdiff_t diShift, bool invert) {
    Channels<Sample> out;
    const auto frames = static_cast<std::ptrdiff_t>(in[0].size());
    for (int k = 0; k < 3; ++k) {
        out[k].assign(in[k].size(), Sample(0));
        const std::ptrdiff_t shift = k == 2 ? diShift : latency;
        for (std::ptrdiff_t j = std::max<std::ptrdiff_t>(shift, 0); j < frames && j - shift < frames; ++j)
            out[k][static_cast<std::size_t>(j)] = k == 2 && invert ? -in[k][static_cast<std::size_t>(j - shift)]
                                                                   : in[k][static_cast<std::size_t>(j - shift)];
    }
    return out;
}

// The largest difference of output 3 from the DI heard `delaySamples` later, with the output
// advanced by `latency`, from where the moved DI and its kernel have begun.
template <class Sample>
double worstDiError(const Take& take, const std::vector<Sample>& out3, double delaySamples, std::size_t latency) {
    double worst = 0.0;
    const auto first = latency + static_cast<std::size_t>(std::max(0.0, delaySamples)) + 64;
    for (std::size_t j = first; j < out3.size(); ++j)
        worst = std::max(worst, std::abs(static_cast<double>(out3[j]) -
                                         take.di(static_cast<double>(j - latency) - delaySamples)));
    return worst;
}

}  // namespace alignment
