// The tone filter in vector registers of `Bytes`: its 32 lanes (one section each, the last of
// them identities) all at once, every step handing each lane's output to the next section's
// lane. Each lane's arithmetic is that of one section on one sample (separate
// multiplies and adds, in the same order), so the kernels differ only in speed.
#pragma once

#include <cstddef>
#include <cstring>

#include "align/fraction_kernel.h"

namespace align {

inline constexpr int kToneLanes = 32;

// Lane L holds section kToneLanes - 1 - L.
struct ToneLanes {
    alignas(64) double b0[kToneLanes], b1[kToneLanes], b2[kToneLanes], a1[kToneLanes], a2[kToneLanes];
    alignas(64) double z0[kToneLanes], z1[kToneLanes];
};

// {a[1], ..., a[width - 1], b[0]}: the lanes moved down one, the next vector's first coming in.
template <int Bytes>
inline typename DoubleLanes<Bytes>::type shiftedIn(typename DoubleLanes<Bytes>::type a, typename DoubleLanes<Bytes>::type b) {
    if constexpr (Bytes == 16)
        return __builtin_shufflevector(a, b, 1, 2);
    else if constexpr (Bytes == 32)
        return __builtin_shufflevector(a, b, 1, 2, 3, 4);
    else
        return __builtin_shufflevector(a, b, 1, 2, 3, 4, 5, 6, 7, 8);
}

// The whole wavefront on w[0 .. n), any n >= 1: section s (lane kToneLanes - 1 - s) takes
// sample j at step j + s, and at a step where a lane has no sample (the first and last
// kToneLanes - 1) its state is left as it was.
template <int Bytes>
void toneSteps(ToneLanes& k, double* w, std::size_t n) {
    using Lanes = typename DoubleLanes<Bytes>::type;
    using Mask = decltype(Lanes{} < Lanes{});
    constexpr std::size_t width = Bytes / 8, count = kToneLanes / width;
    constexpr auto last = static_cast<std::ptrdiff_t>(kToneLanes - 1);
    auto load = [](const double* p) {
        Lanes v;
        std::memcpy(&v, p, sizeof v);
        return v;
    };
    Lanes in[count], y[count], z0[count], z1[count], lane[count];
    for (std::size_t p = 0; p < count; ++p) {
        in[p] = Lanes{}, z0[p] = load(k.z0 + p * width), z1[p] = load(k.z1 + p * width);
        for (std::size_t i = 0; i < width; ++i) lane[p][i] = static_cast<double>(p * width + i);
    }
    in[count - 1] = shiftedIn<Bytes>(Lanes{}, Lanes{} + w[0]);  // the first section's first sample
    const auto steps = static_cast<std::ptrdiff_t>(n) + last;
    for (std::ptrdiff_t t = 0; t < steps; ++t) {
        // the lanes with a sample: sections t - n + 1 .. t, lanes last - t .. last - t + n - 1
        const bool all = t >= last && t < static_cast<std::ptrdiff_t>(n);
        const Lanes lo = Lanes{} + static_cast<double>(last - t), hi = lo + static_cast<double>(n - 1);
#pragma GCC unroll 16
        for (std::size_t p = 0; p < count; ++p) {
            const std::size_t l = p * width;
            y[p] = load(k.b0 + l) * in[p] + z0[p];
            const Lanes next0 = load(k.b1 + l) * in[p] - load(k.a1 + l) * y[p] + z1[p];
            const Lanes next1 = load(k.b2 + l) * in[p] - load(k.a2 + l) * y[p];
            if (all) {
                z0[p] = next0, z1[p] = next1;
            } else {
                const Mask on = (lane[p] >= lo) & (lane[p] <= hi);
                z0[p] = on ? next0 : z0[p], z1[p] = on ? next1 : z1[p];
            }
        }
        if (t >= last) w[t - last] = y[0][0];  // the last section's: done
#pragma GCC unroll 16
        for (std::size_t p = 0; p + 1 < count; ++p) in[p] = shiftedIn<Bytes>(y[p], y[p + 1]);
        in[count - 1] = shiftedIn<Bytes>(y[count - 1], Lanes{} + (t + 1 < static_cast<std::ptrdiff_t>(n) ? w[t + 1] : 0.0));
    }
    for (std::size_t p = 0; p < count; ++p) {
        std::memcpy(k.z0 + p * width, &z0[p], sizeof z0[p]);
        std::memcpy(k.z1 + p * width, &z1[p], sizeof z1[p]);
    }
}

using ToneSteps = void (*)(ToneLanes& k, double* w, std::size_t n);
void toneSteps128(ToneLanes& k, double* w, std::size_t n);
// Only on x86, only called after the processor said it has the instructions.
void toneStepsAvx2(ToneLanes& k, double* w, std::size_t n);
void toneStepsAvx512(ToneLanes& k, double* w, std::size_t n);
// The kernel in use: the widest the processor runs, chosen with the alignment's.
extern ToneSteps toneStepsNow;

}  // namespace align
