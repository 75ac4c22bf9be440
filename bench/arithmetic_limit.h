// What the fractional delay's arithmetic costs with nothing else around it, for the
// benchmark's comparison: one translation unit per register width.
#pragma once

#include <benchmark/benchmark.h>

#include "align/fraction_kernel.h"

// What the same arithmetic costs with nothing else: per frame 64 multiplies and 64 adds,
// separate (no fused ones, as the kernel), in registers of `Bytes`, eight at once, no loads.
template <int Bytes>
void arithmeticLimit(benchmark::State& state) {
    using Lanes = typename align::DoubleLanes<Bytes>::type;
    constexpr int kLanes = Bytes / 8, frames = 512;
    Lanes v[8], s[8] = {};
    for (int r = 0; r < 8; ++r) v[r] = Lanes{} + (1.0 + r * 1e-3);
    for (auto _ : state) {
        for (int group = 0; group < frames / (8 * kLanes); ++group)
            for (int t = 0; t < 64; ++t) {
                const Lanes tap = Lanes{} + (t * 1e-6);
                for (int r = 0; r < 8; ++r) s[r] += tap * v[r];
            }
        double kept = 0;
        for (int r = 0; r < 8; ++r) kept += s[r][0];
        benchmark::DoNotOptimize(kept);
    }
    state.SetItemsProcessed(state.iterations() * frames);
}

void arithmeticLimit32(benchmark::State& state);  // compiled for AVX2: run only where it is
void arithmeticLimit64(benchmark::State& state);  // compiled for AVX-512
