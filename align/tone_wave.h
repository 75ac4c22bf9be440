// The tone filter in vector registers of `Bytes`: its sections, one a lane, all at once, every
// step handing each lane's output to the next section's lane. Each lane's arithmetic is that
// of one section on one sample (separate multiplies and adds, in the same order), so the
// kernels differ only in speed. Each section's b0 is taken out of it (the filter's gain is
// their product, applied once after the cascade), which saves a multiply and a load a lane.
#pragma once

#include <cstddef>
#include <algorithm>
#include <cstring>
#include <type_traits>

#include "align/fraction_kernel.h"

namespace align {

inline constexpr int kToneLanes = 32;
inline constexpr int kToneSections = 27;  // the lanes past them are identities
static_assert(kToneSections <= kToneLanes, "every section needs a lane of the filter's registers");

// Lane L holds section kToneLanes - 1 - L: y = x + z0, z0 = b1 x - a1 y + z1, z1 = b2 x - a2 y.
struct ToneLanes {
    alignas(64) double b1[kToneLanes], b2[kToneLanes], a1[kToneLanes], a2[kToneLanes];
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

// The whole wavefront on w[0 .. n), any n >= 1, over the lanes from `first` up: as few whole
// registers as hold the sections, the last section's lane and those below it identities that
// pass their input on exactly. Section s (lane kToneLanes - 1 - s) takes sample j at step
// j + s, and at a step where a lane has no sample its state is left as it was.
template <int Bytes>
void toneSteps(ToneLanes& k, double* w, std::size_t n) {
    using Lanes = typename DoubleLanes<Bytes>::type;
    using Mask = decltype(Lanes{} < Lanes{});
    constexpr std::size_t width = Bytes / 8, count = (kToneSections + width - 1) / width;
    constexpr std::size_t first = kToneLanes - count * width;
    constexpr auto top = static_cast<std::ptrdiff_t>(kToneLanes - 1), lag = top - static_cast<std::ptrdiff_t>(first);
    auto load = [](const double* p) {
        Lanes v;
        std::memcpy(&v, p, sizeof v);
        return v;
    };
    Lanes in[count], z0[count], z1[count], lane[count];
    for (std::size_t p = 0; p < count; ++p) {
        in[p] = Lanes{}, z0[p] = load(k.z0 + first + p * width), z1[p] = load(k.z1 + first + p * width);
        for (std::size_t i = 0; i < width; ++i) lane[p][i] = static_cast<double>(first + p * width + i);
    }
    // The lowest register's lanes that hold a section; below them, the identities.
    const Mask real = lane[0] > static_cast<double>(kToneLanes - 1 - kToneSections);
    in[count - 1] = shiftedIn<Bytes>(Lanes{}, Lanes{} + w[0]);  // the first section's first sample
    // One step: every lane's section on its sample; `masked`, only the lanes that have one (the
    // first and last lag steps), the others' state kept. Each vector's input for the next step
    // is made as soon as the vector after it is done, which keeps fewer registers live.
    auto step = [&](std::ptrdiff_t t, auto masked) {
        const Lanes lo = Lanes{} + static_cast<double>(top - t), hi = lo + static_cast<double>(n - 1);
        Lanes previous{};
#pragma GCC unroll 16
        for (std::size_t p = 0; p < count; ++p) {
            const std::size_t l = first + p * width;
            Lanes out = in[p] + z0[p];
            const Lanes next0 = load(k.b1 + l) * in[p] - load(k.a1 + l) * out + z1[p];
            const Lanes next1 = load(k.b2 + l) * in[p] - load(k.a2 + l) * out;
            if constexpr (decltype(masked)::value) {
                const Mask on = (lane[p] >= lo) & (lane[p] <= hi);
                z0[p] = on ? next0 : z0[p], z1[p] = on ? next1 : z1[p];
            } else {
                z0[p] = next0, z1[p] = next1;
            }
            if (p == 0) {
                out = real ? out : in[0];
                if (t >= lag) w[t - lag] = out[0];  // the last lane's: done
            } else {
                in[p - 1] = shiftedIn<Bytes>(previous, out);
            }
            previous = out;
        }
        in[count - 1] = shiftedIn<Bytes>(previous, Lanes{} + (t + 1 < static_cast<std::ptrdiff_t>(n) ? w[t + 1] : 0.0));
    };
    const auto frames = static_cast<std::ptrdiff_t>(n);
    const std::ptrdiff_t steady = std::min(lag, frames);
    std::ptrdiff_t t = 0;
    for (; t < steady; ++t) step(t, std::true_type{});
    for (; t < frames; ++t) step(t, std::false_type{});
    for (; t < frames + lag; ++t) step(t, std::true_type{});
    for (std::size_t p = 0; p < count; ++p) {
        std::memcpy(k.z0 + first + p * width, &z0[p], sizeof z0[p]);
        std::memcpy(k.z1 + first + p * width, &z1[p], sizeof z1[p]);
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
