// A block's largest square and sum of squares of one channel, in vector registers. The order
// of the additions is fixed whatever the register width, so every processor gives the same
// bits and the meters the same pictures: sample j goes to lane j % kLaneBytes/sizeof(Sample),
// the lanes are folded in halves (lane i takes lane i + half) down to one, and the samples
// that do not fill a whole row of lanes are added to that in order. Squares need no
// magnitude, and the largest square is the peak squared: a square is over 1 exactly when its
// sample is. A NaN is never the largest.
// Included only by the kernel translation units, each compiled for one instruction set.
#pragma once

#include <cstdint>
#include <cstring>

#include "editor/meter_kernels.h"

namespace {

// Halves of a register of W lanes, folded down to one lane.
template <class Sample, int W>
inline void fold(Sample __attribute__((vector_size(W * sizeof(Sample)))) sums,
                 Sample __attribute__((vector_size(W * sizeof(Sample)))) largest, Sample& sum, Sample& top) {
    if constexpr (W == 1) {
        sum = sums[0], top = largest[0];
    } else {
        typedef Sample Half __attribute__((vector_size(W / 2 * sizeof(Sample))));
        Half sumLow, sumHigh, topLow, topHigh;
        std::memcpy(&sumLow, &sums, sizeof sumLow);
        std::memcpy(&sumHigh, reinterpret_cast<const char*>(&sums) + sizeof sumLow, sizeof sumHigh);
        std::memcpy(&topLow, &largest, sizeof topLow);
        std::memcpy(&topHigh, reinterpret_cast<const char*>(&largest) + sizeof topLow, sizeof topHigh);
        fold<Sample, W / 2>(sumLow + sumHigh, topHigh > topLow ? topHigh : topLow, sum, top);
    }
}

// `RegisterBytes` wide registers, as many as make a row of editor::kLaneBytes, for `Together`
// channels at once: their chains of additions are independent, so the processor overlaps them.
template <int RegisterBytes, int Together, class Sample>
void squaresOf(const Sample* const* x, std::int32_t frames, Sample* largest, Sample* sum) {
    constexpr int W = RegisterBytes / static_cast<int>(sizeof(Sample));
    constexpr int R = editor::kLaneBytes / RegisterBytes, L = R * W;
    typedef Sample V __attribute__((vector_size(RegisterBytes)));
    V tops[Together][R], sums[Together][R];
#pragma GCC unroll 16
    for (int c = 0; c < Together; ++c)
#pragma GCC unroll 16
        for (int r = 0; r < R; ++r) tops[c][r] = V{}, sums[c][r] = V{};
    std::int32_t j = 0;
    for (; j + L <= frames; j += L) {
#pragma GCC unroll 16
        for (int c = 0; c < Together; ++c)
#pragma GCC unroll 16
            for (int r = 0; r < R; ++r) {
                V v;
                std::memcpy(&v, x[c] + j + r * W, sizeof v);
                const V q = v * v;
                tops[c][r] = q > tops[c][r] ? q : tops[c][r];
                sums[c][r] += q;
            }
    }
#pragma GCC unroll 16
    for (int c = 0; c < Together; ++c) {
        // Whole registers first: their lanes are the first halvings of the row.
#pragma GCC unroll 16
        for (int half = R / 2; half >= 1; half /= 2)
#pragma GCC unroll 16
            for (int r = 0; r < half; ++r) {
                sums[c][r] += sums[c][r + half];
                tops[c][r] = tops[c][r + half] > tops[c][r] ? tops[c][r + half] : tops[c][r];
            }
        Sample s, top;
        fold<Sample, W>(sums[c][0], tops[c][0], s, top);
        for (std::int32_t k = j; k < frames; ++k) {
            const Sample q = x[c][k] * x[c][k];
            top = q > top ? q : top, s += q;
        }
        largest[c] = top, sum[c] = s;
    }
}

// Three channels, `Together` at a time.
template <int RegisterBytes, int Together, class Sample>
void threeSquares(const Sample* const* x, std::int32_t frames, Sample* largest, Sample* sum) {
    static_assert(3 % Together == 0);
    for (int c = 0; c < 3; c += Together) squaresOf<RegisterBytes, Together>(x + c, frames, largest + c, sum + c);
}

// The pair's every kPointStride-th frame as (left, right) points. A plain loop: the compiler
// makes it vector permutations where the registers have them (this file is built with loop
// vectorisation; a conversion is the same rounding either way).
template <class Sample>
void pointsOf(const Sample* left, const Sample* right, std::size_t points, float* to) {
    for (std::size_t i = 0; i < points; ++i) {
        to[2 * i] = static_cast<float>(left[i * editor::kPointStride]);
        to[2 * i + 1] = static_cast<float>(right[i * editor::kPointStride]);
    }
}

}  // namespace
