#include "align/sinc.h"

#include <algorithm>
#include <cmath>

namespace align {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Kaiser's beta for a half length: 9 gives about 90 dB of stop band at 64 taps and the best
// low-frequency accuracy from 6 taps up; the two shortest kernels do better with less.
double kaiserBeta(int half) { return half >= 3 ? 9.0 : half == 2 ? 4.5 : 0.0; }

}  // namespace

double sinPi(double x) {
    // sin(pi x) = +-sin(pi r) with r = x - n in [-1/2, 1/2], n the nearest whole number; then
    // the Taylor series of sin in (pi r)^2, which has converged to the last bit by 1/25!.
    const double n = std::nearbyint(x);
    const double r = x - n;
    const double t = kPi * r, z = t * t;
    double s = 1.0;  // sin(t) / t = 1 - z/3! (1 - z/(5*4) (1 - ...))
    for (int k = 25; k >= 3; k -= 2) s = 1.0 - z / (k * (k - 1)) * s;
    s *= t;
    return std::fmod(n, 2.0) == 0.0 ? s : -s;
}

double besselI0(double x) {
    // The power series: the sum of ((x/2)^k / k!)^2, every term positive.
    const double q = x * x / 4.0;
    double term = 1.0, sum = 1.0;
    for (int k = 1; k < 500 && term > sum * 1e-17; ++k) {
        term = term * q / (static_cast<double>(k) * k);
        sum += term;
    }
    return sum;
}

double windowedSinc(double u, int half) {
    const double v = u / half;
    if (v <= -1.0 || v >= 1.0) return 0.0;
    const double beta = kaiserBeta(half);
    const double window = besselI0(beta * std::sqrt(1.0 - v * v)) / besselI0(beta);
    if (u == 0.0) return window;
    return sinPi(u) / (kPi * u) * window;
}

FractionTaps fractionTaps(double fraction, int half) {
    FractionTaps t;
    t.half = std::clamp(half, 1, kSincHalfLength);
    double sum = 0.0;
    for (int j = 0; j < t.count(); ++j) {
        t.taps[static_cast<std::size_t>(j)] = windowedSinc(j + t.firstTap() - fraction, t.half);
        sum += t.taps[static_cast<std::size_t>(j)];
    }
    for (int j = 0; j < t.count(); ++j) t.taps[static_cast<std::size_t>(j)] /= sum;
    return t;
}

double valueBetween(const double* x, std::ptrdiff_t count, double at) {
    const auto first = static_cast<std::ptrdiff_t>(std::floor(at)) - kSincHalfLength + 1;
    double sum = 0.0;
    for (std::ptrdiff_t i = std::max<std::ptrdiff_t>(first, 0); i < std::min(first + kSincTaps, count); ++i)
        sum += x[i] * windowedSinc(at - static_cast<double>(i));
    return sum;
}

}  // namespace align
