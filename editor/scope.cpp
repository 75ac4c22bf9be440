#include "editor/scope.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <cstdio>

namespace editor {

using namespace palette;

ScopeData::ScopeData(int angles, int levels)
    : angles_(angles), levels_(levels), hits_(static_cast<std::size_t>(angles * levels), 0.0f) {}

void ScopeData::add(double left, double right) {
    if (!std::isfinite(left) || !std::isfinite(right)) return;
    peakLeft_ = std::max(peakLeft_, std::fabs(left));
    peakRight_ = std::max(peakRight_, std::fabs(right));
    sumLL_ += left * left, sumRR_ += right * right, sumLR_ += left * right;
    if (std::fabs(left) > 1.0 || std::fabs(right) > 1.0) ++overloads_;
    // Mid (L + R)/2 up, side (R - L)/2 to the right: a point's place by angle and level.
    const double mid = (left + right) * 0.5, side = (right - left) * 0.5;
    const double radius = std::hypot(mid, side);
    peakRadius_ = std::max(peakRadius_, radius);
    if (radius <= 0.0) return;
    const double level = (toDb(radius) - LowestDb) / (HighestDb - LowestDb);
    if (level < 0.0) return;
    const int l = std::min(levels_ - 1, static_cast<int>(level * levels_));
    const double angle = std::atan2(mid, side);  // 0 = +side (right), pi/2 = mid (up)
    const int a = static_cast<int>((angle + std::numbers::pi) / (2 * std::numbers::pi) * angles_) % angles_;
    hits_[static_cast<std::size_t>(a * levels_ + l)] += 1.0f;
}

bool ScopeData::fade(double factor) {
    bool any = false;
    for (float& h : hits_) {
        any |= h > 0.0f;
        h = h * static_cast<float>(factor) < 0.01f ? 0.0f : h * static_cast<float>(factor);
    }
    // The peaks and the correlation fade with the points, and are gone below -120 dB.
    any |= peakRadius_ > 0.0 || sumLL_ > 0.0 || sumRR_ > 0.0;
    peakLeft_ *= factor, peakRight_ *= factor, peakRadius_ *= factor;
    sumLL_ *= factor, sumRR_ *= factor, sumLR_ *= factor;
    if (peakRadius_ < 1e-6 && peakLeft_ < 1e-6 && peakRight_ < 1e-6) {
        peakLeft_ = peakRight_ = peakRadius_ = sumLL_ = sumRR_ = sumLR_ = 0;
    }
    return any;
}

void ScopeData::clear() {
    std::fill(hits_.begin(), hits_.end(), 0.0f);
    peakLeft_ = peakRight_ = peakRadius_ = sumLL_ = sumRR_ = sumLR_ = 0;
    overloads_ = 0;
}

double ScopeData::correlation() const {
    const double energy = std::sqrt(sumLL_ * sumRR_);
    return energy > 0.0 ? sumLR_ / energy : 0.0;
}

float ScopeData::mostHits() const {
    float most = 1.0f;
    for (float h : hits_) most = std::max(most, h);
    return most;
}

double toDb(double amplitude) { return amplitude > 0.0 ? 20.0 * std::log10(amplitude) : -INFINITY; }

std::string dbText(double db) {
    if (!std::isfinite(db)) return "-INF";
    char text[16];
    std::snprintf(text, sizeof text, "%+.1f", db);
    return text;
}

double rimDb(double peak) {
    const double db = toDb(peak);
    for (double step : {-60.0, -50.0, -40.0, -30.0, -20.0, -12.0, -6.0, 0.0, 6.0, 12.0, 24.0})
        if (db <= step + 1e-9) return step;
    return 24.0;
}

namespace {

// Where a level lies from the centre, as a fraction of the radius.
double placeOf(double db, double rim, bool logarithmic) {
    if (logarithmic) return std::max(0.0, (db - (rim - 60.0)) / 60.0);
    return std::pow(10.0, (db - rim) / 20.0);
}

void drawPoints(Canvas& canvas, double cx, double cy, double radius, const ScopeData& data, double rim, bool logarithmic) {
    const double most = std::log1p(data.mostHits());
    const int r = static_cast<int>(std::ceil(radius));
    for (int dy = -r; dy < r; ++dy)
        for (int dx = -r; dx < r; ++dx) {
            const double px = dx + 0.5, py = dy + 0.5, distance = std::hypot(px, py);
            if (distance > radius) continue;
            const double fraction = distance / radius;
            const double db = logarithmic ? rim - 60.0 + fraction * 60.0 : rim + toDb(fraction);
            const double level = (db - ScopeData::LowestDb) / (ScopeData::HighestDb - ScopeData::LowestDb);
            if (level < 0.0 || level >= 1.0) continue;
            const double angle = std::atan2(-py, px);
            const int a = static_cast<int>((angle + std::numbers::pi) / (2 * std::numbers::pi) * data.angles()) % data.angles();
            const float n = data.hits(a, static_cast<int>(level * data.levels()));
            if (n <= 0.0f) continue;
            const double shade = 0.3 + 0.7 * std::log1p(n) / most;
            const Color c = db > 0.0 ? Color{kOver.r, static_cast<std::uint8_t>(90 * shade), 60}
                                     : Color{static_cast<std::uint8_t>(kPoints.r * shade),
                                             static_cast<std::uint8_t>(kPoints.g * shade),
                                             static_cast<std::uint8_t>(kPoints.b * shade)};
            canvas.blend(static_cast<int>(std::floor(cx + px)), static_cast<int>(std::floor(cy + py)), c, 1.0);
        }
}

}  // namespace

void drawScope(Canvas& canvas, double x, double y, double diameter, const ScopeData& data, double rim,
               const ScopeStyle& style) {
    const double u = style.unit, radius = diameter / 2, cx = x + radius, cy = y + radius;
    const double thin = std::max(1.0, u), textSize = 11 * u;
    canvas.fillCircle(cx, cy, radius, kPanel);
    // Rings in dBFS, and 0 dBFS in red where the rim is above it; labelled over the points.
    const double steps[] = {0.0, -6.0, -12.0, -20.0, -40.0};
    for (double step : steps) {
        const double db = rim + step, r = placeOf(db, rim, style.logarithmic) * radius;
        if (r >= 12 * u) canvas.ring(cx, cy, r, thin, std::fabs(db) < 1e-9 && rim > 0 ? kOver : kGrid);
    }
    if (rim > 0.0) canvas.ring(cx, cy, placeOf(0.0, rim, style.logarithmic) * radius, 2 * thin, kOver);
    // Axes: M up, S across, L and R on the diagonals.
    const double d = radius * 0.7071;
    canvas.line(cx, cy - radius, cx, cy + radius, thin, kGrid);
    canvas.line(cx - radius, cy, cx + radius, cy, thin, kGrid);
    canvas.line(cx - d, cy - d, cx + d, cy + d, thin, kGrid);
    canvas.line(cx - d, cy + d, cx + d, cy - d, thin, kGrid);
    drawPoints(canvas, cx, cy, radius, data, rim, style.logarithmic);
    for (double step : steps) {
        const double db = rim + step, r = placeOf(db, rim, style.logarithmic) * radius;
        if (r < 36 * u) continue;  // nearer the centre the labels would crowd the points
        const bool zero = std::fabs(db) < 1e-9 && rim > 0;
        canvas.text(cx + r * 0.7071 + 3 * u, cy + r * 0.7071 + 10 * u, dbText(db), textSize, zero ? kOver : kDim);
    }
    canvas.text(cx, cy - radius - 5 * u, "M", 13 * u, kText, Align::Centre);
    canvas.text(cx + radius + 5 * u, cy + 5 * u, "S", 13 * u, kText);
    canvas.text(cx - radius - 5 * u, cy + 5 * u, "-S", 13 * u, kText, Align::Right);
    canvas.text(cx - d - 6 * u, cy - d - 4 * u, "L", 13 * u, kText, Align::Right);
    canvas.text(cx + d + 6 * u, cy - d - 4 * u, "R", 13 * u, kText);
}

void drawCorrelation(Canvas& canvas, double x, double y, double width, double correlation, const ScopeStyle& style) {
    const double u = style.unit, height = 10 * u;
    // Red where the pair cancels, green where it agrees.
    const int steps = std::max(2, static_cast<int>(width));
    for (int i = 0; i < steps; ++i) {
        const double v = i / double(steps - 1) * 2 - 1;
        const Color shade = v < 0 ? Color{static_cast<std::uint8_t>(90 - 60 * v), 40, 40}
                                  : Color{40, static_cast<std::uint8_t>(60 + 100 * v), 60};
        canvas.fillRect(x + width * i / steps, y, width / steps + 0.5, height, shade);
    }
    const char* labels[] = {"-1", "-0.5", "0", "+0.5", "+1"};
    for (int k = 0; k <= 4; ++k) {
        const double tick = x + k * width / 4;
        canvas.line(tick, y + height, tick, y + height + 4 * u, std::max(1.0, u), kText);
        canvas.text(tick, y + height + 15 * u, labels[k], 10 * u, kDim, Align::Centre);
    }
    const double c = std::isfinite(correlation) ? std::clamp(correlation, -1.0, 1.0) : 0.0;
    const double marker = x + (c + 1) / 2 * width;
    canvas.fillRoundRect(marker - 2 * u, y - 3 * u, 4 * u, height + 6 * u, 1.5 * u, Color{255, 255, 255});
    char line[40];
    std::snprintf(line, sizeof line, "CORRELATION %+.2f", c);
    canvas.text(x + width / 2, y + height + 30 * u, line, 11 * u, kText, Align::Centre);
}

}  // namespace editor
