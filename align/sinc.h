// Band-limited values between samples: a windowed sinc. The DI's delay is applied with it and
// its cross-correlation is read between lags with it.
//
// The kernel is sin(pi u) / (pi u) under a Kaiser window over |u| < half length. At the full
// half length of 32 (64 taps, beta 9), content up to 0.45 of the sample rate (21.6 kHz at
// 48 kHz) is moved within -90 dB of full scale of the exact value (the tests measure it);
// content nearer half the sample rate is attenuated. A delay that must not look ahead uses a
// shorter kernel where it is too short for the whole one (see `FractionTaps`).
//
// Everything here is computed with + - * / and sqrt only, so the taps, and the audio they
// move, are the same bits on every processor and C library.
#pragma once

#include <array>
#include <cstddef>

namespace align {

inline constexpr int kSincHalfLength = 32;
inline constexpr int kSincTaps = 2 * kSincHalfLength;

// sin(pi x), and the modified Bessel function I0(x) for x >= 0.
double sinPi(double x);
double besselI0(double x);

// The kernel's value at u samples from its centre for a half length; 0 for |u| >= half.
double windowedSinc(double u, int half = kSincHalfLength);

// The taps that delay a signal by `fraction` of a sample (0 < fraction < 1) with a kernel of
// `half` taps either side (1 .. kSincHalfLength):
// y[n] = sum over i from 1 - half to half of taps[i - 1 + half] * x[n - i],
// normalised so a constant passes unchanged.
struct FractionTaps {
    int half = kSincHalfLength;
    std::array<double, kSincTaps> taps{};
    int firstTap() const { return 1 - half; }
    int count() const { return 2 * half; }
};
FractionTaps fractionTaps(double fraction, int half = kSincHalfLength);

// x at position `at` (in samples, fractions allowed) of x[0 .. count), zeros outside.
double valueBetween(const double* x, std::ptrdiff_t count, double at);

}  // namespace align
