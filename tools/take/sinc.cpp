#include "tools/take/sinc.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace take {

namespace {
constexpr double kKaiserBeta = 9.0;  // about 90 dB of stop band for 64 taps
}

double windowedSinc(double u) {
    const double v = u / kSincHalfLength;
    if (v <= -1.0 || v >= 1.0) return 0.0;
    static const double scale = 1.0 / std::cyl_bessel_i(0.0, kKaiserBeta);
    const double window = std::cyl_bessel_i(0.0, kKaiserBeta * std::sqrt(1.0 - v * v)) * scale;
    if (u == 0.0) return window;
    const double x = std::numbers::pi * u;
    return std::sin(x) / x * window;
}

FractionTaps fractionTaps(double fraction) {
    FractionTaps t;
    double sum = 0.0;
    for (int j = 0; j < kSincTaps; ++j) {
        t.taps[static_cast<std::size_t>(j)] = windowedSinc(j + FractionTaps::kFirstTap - fraction);
        sum += t.taps[static_cast<std::size_t>(j)];
    }
    for (double& tap : t.taps) tap /= sum;
    return t;
}

double valueBetween(const double* x, std::ptrdiff_t count, double at) {
    const auto first = static_cast<std::ptrdiff_t>(std::floor(at)) - kSincHalfLength + 1;
    double sum = 0.0;
    for (std::ptrdiff_t i = std::max<std::ptrdiff_t>(first, 0); i < std::min(first + kSincTaps, count); ++i)
        sum += x[i] * windowedSinc(at - static_cast<double>(i));
    return sum;
}

}  // namespace take
