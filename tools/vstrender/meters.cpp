#include "tools/vstrender/meters.h"

#include <cmath>
#include <cstdio>

namespace vstrender {

namespace {
double toDb(double amplitude) { return amplitude > 0.0 ? 20.0 * std::log10(amplitude) : -INFINITY; }
}  // namespace

double Meters::peakDb(std::size_t channel) const { return toDb(peak_[channel]); }

double Meters::rmsDb(std::size_t channel) const {
    return frames_ ? toDb(std::sqrt(sumSquares_[channel] / static_cast<double>(frames_))) : -INFINITY;
}

double Meters::correlation() const {
    if (sumSquares_.size() < 2) return 0.0;
    const double energy = std::sqrt(sumSquares_[0] * sumSquares_[1]);
    return energy > 0.0 ? productSum_ / energy : 0.0;
}

std::string formatDb(double db) {
    if (!std::isfinite(db)) return "-inf dBFS";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f dBFS", db);
    return text;
}

}  // namespace vstrender
