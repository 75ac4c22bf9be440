// Band-limited values between samples: a windowed sinc of fixed length. The DI's delay is
// applied with it and its cross-correlation is read between lags with it.
//
// The kernel is sin(pi u) / (pi u) under a Kaiser window (beta 9) over |u| < 32: 64 taps.
// For content up to 0.45 of the sample rate (21.6 kHz at 48 kHz) a moved signal is within
// -90 dB of full scale of the exact one (the tests measure it); content nearer half the
// sample rate is attenuated.
#pragma once

#include <array>
#include <cstddef>

namespace take {

inline constexpr int kSincHalfLength = 32;
inline constexpr int kSincTaps = 2 * kSincHalfLength;

// The kernel's value at u samples from its centre; 0 for |u| >= kSincHalfLength.
double windowedSinc(double u);

// The taps that delay a signal by `fraction` of a sample (0 < fraction < 1):
// y[n] = sum over j of taps[j] * x[n - j - kFirstTap], normalised so a constant passes unchanged.
struct FractionTaps {
    static constexpr int kFirstTap = 1 - kSincHalfLength;
    std::array<double, kSincTaps> taps{};
};
FractionTaps fractionTaps(double fraction);

// x at position `at` (in samples, fractions allowed) of x[0 .. count), zeros outside.
double valueBetween(const double* x, std::ptrdiff_t count, double at);

}  // namespace take
