// The sum behind a fractional delay, y[j] = sum over t of taps[t] * x[j - (t + first)], one
// sum per frame in the order of the taps: in vector registers of `Bytes`, each lane one
// frame's sum, eight registers at once so that the additions' latency hides behind each other.
// Every width gives the bits of one frame at a time (separate multiplies and adds, no fused
// ones, in the same order), so the kernels differ only in speed.
#pragma once

#include <cstdint>
#include <cstring>

namespace align {

// Registers of doubles by their width in bytes (GCC takes vector_size only from a literal).
template <int Bytes>
struct DoubleLanes;
template <>
struct DoubleLanes<16> {
    typedef double type __attribute__((vector_size(16)));
};
template <>
struct DoubleLanes<32> {
    typedef double type __attribute__((vector_size(32)));
};
template <>
struct DoubleLanes<64> {
    typedef double type __attribute__((vector_size(64)));
};

template <int Bytes>
void sumTaps(const double* x, std::int32_t frames, const double* taps, int first, int count, double* y) {
    using Lanes = typename DoubleLanes<Bytes>::type;
    constexpr int kLanes = Bytes / 8, kGroup = 8 * kLanes;
    std::int32_t j = 0;
    for (; j + kGroup <= frames; j += kGroup) {
        Lanes s[8] = {};
        for (int t = 0; t < count; ++t) {
            const Lanes tap = Lanes{} + taps[t];
            const double* at = x + j - (t + first);
            for (int r = 0; r < 8; ++r) {
                Lanes v;
                std::memcpy(&v, at + r * kLanes, sizeof v);  // unaligned
                s[r] += tap * v;
            }
        }
        std::memcpy(y + j, s, sizeof s);
    }
    for (; j < frames; ++j) {
        double sum = 0.0;
        for (int t = 0; t < count; ++t) sum += taps[t] * x[j - (t + first)];
        y[j] = sum;
    }
}

using SumTaps = void (*)(const double* x, std::int32_t frames, const double* taps, int first, int count, double* y);
void sumTaps128(const double* x, std::int32_t frames, const double* taps, int first, int count, double* y);
// Only on x86, only called after the processor said it has the instructions.
void sumTapsAvx2(const double* x, std::int32_t frames, const double* taps, int first, int count, double* y);
void sumTapsAvx512(const double* x, std::int32_t frames, const double* taps, int first, int count, double* y);

}  // namespace align
