// What the CLAP and VST 3 fuzzers share: the channels of a block processed in place.
#pragma once

#include <cmath>
#include <cstddef>
#include <vector>

namespace fuzzhost {

// Three channels in both precisions for a block processed in place, of a known value each.
struct InPlaceChannels {
    std::vector<float> f[3];
    std::vector<double> d[3];
    float* fp[3];
    double* dp[3];
    InPlaceChannels(std::size_t frames, float floatStep, double doubleStep) {
        for (int k = 0; k < 3; ++k) {
            f[k].assign(frames + 1, floatStep * static_cast<float>(k + 1));
            d[k].assign(frames + 1, doubleStep * (k + 1));
            fp[k] = f[k].data(), dp[k] = d[k].data();
        }
    }
    // Decoding never gives a NaN or an infinity from finite input.
    void requireFinite(bool doubles, std::size_t frames) const {
        for (int k = 0; k < 3; ++k)
            for (std::size_t j = 0; j < frames; ++j)
                if (!(doubles ? std::isfinite(d[k][j]) : std::isfinite(f[k][j]))) __builtin_trap();
    }
};

}  // namespace fuzzhost
