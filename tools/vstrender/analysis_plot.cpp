// The analysis sheet, drawn with the editor's canvas in the scope's colours.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "editor/canvas.h"
#include "editor/scope.h"
#include "align/sinc.h"
#include "tools/vstrender/analysis_report.h"
#include "tools/vstrender/png_file.h"

namespace vstrender {

namespace {

using namespace editor::palette;
constexpr editor::Color kRight{255, 190, 80}, kSideCurve{150, 120, 220};

constexpr int kWidth = 1200, kTitle = 70, kPlotHeight = 230, kGap = 70, kLeft = 74, kRightMargin = 24;
constexpr int kScopeWidth = 250;

std::string number(const char* pattern, double v) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, v);
    return text;
}

// A plot's frame: data ranges onto a pixel box, with its grid, tick labels and axis titles.
struct Axes {
    double x, y, w, h;          // the box in pixels
    double x0, x1, y0, y1;      // the data shown
    double px(double v) const { return x + (v - x0) / (x1 - x0) * w; }
    double py(double v) const { return y + h - (std::clamp(v, y0, y1) - y0) / (y1 - y0) * h; }

    void frame(editor::Canvas& c, const std::string& title, const std::string& xTitle, const std::string& yTitle,
               double xStep, double yStep, const char* xPattern, const char* yPattern) const {
        c.fillRect(x, y, w, h, kPanel);
        for (double v = std::ceil(y0 / yStep) * yStep; v <= y1 + 1e-9; v += yStep) {
            c.line(x, py(v), x + w, py(v), 1, kGrid);
            c.text(x - 6, py(v) + 4, number(yPattern, v), 11, kDim, editor::Align::Right);
        }
        for (double v = std::ceil(x0 / xStep) * xStep; v <= x1 + 1e-9; v += xStep) {
            c.line(px(v), y, px(v), y + h, 1, kGrid);
            c.text(px(v), y + h + 15, number(xPattern, v), 11, kDim, editor::Align::Centre);
        }
        c.text(x, y - 10, title, 13, kText);
        c.text(x + w, y + h + 32, xTitle, 11, kDim, editor::Align::Right);
        c.text(x - 6, y - 10, yTitle, 11, kDim, editor::Align::Right);
    }
    // A polyline through the points, skipping gaps marked by NaN.
    void curve(editor::Canvas& c, const std::vector<std::pair<double, double>>& points, double thickness,
               editor::Color colour) const {
        for (std::size_t i = 1; i < points.size(); ++i) {
            const auto [a, av] = points[i - 1];
            const auto [b, bv] = points[i];
            if (std::isnan(av) || std::isnan(bv)) continue;
            c.line(px(a), py(av), px(b), py(bv), thickness, colour);
        }
    }
};

// A step for ticks that puts about `count` of them over `span`.
double niceStep(double span, int count) {
    const double raw = span / count, power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (raw <= m * power) return m * power;
    return 10 * power;
}

void levelsPanel(editor::Canvas& c, const Axes& axes, const Analysis& a) {
    const double seconds = static_cast<double>(a.frames) / a.sampleRate;
    axes.frame(c, "Decoded pair: peak and RMS over time", "time (s)", "dBFS", niceStep(seconds, 10), 12, "%g", "%g");
    c.line(axes.x, axes.py(0), axes.x + axes.w, axes.py(0), 1, kOver);
    std::vector<std::pair<double, double>> peakL, peakR, rmsL, rmsR;
    double t = 0;
    for (const TimeSlice& s : a.slices) {
        const double mid = t + 0.5 * s.frames / a.sampleRate;
        peakL.emplace_back(mid, editor::toDb(s.left.peak));
        peakR.emplace_back(mid, editor::toDb(s.right.peak));
        rmsL.emplace_back(mid, editor::toDb(std::sqrt(s.left.sumSquares / s.frames)));
        rmsR.emplace_back(mid, editor::toDb(std::sqrt(s.right.sumSquares / s.frames)));
        t += static_cast<double>(s.frames) / a.sampleRate;
    }
    axes.curve(c, peakL, 1, {96, 200, 255, 110});
    axes.curve(c, peakR, 1, {255, 190, 80, 110});
    axes.curve(c, rmsL, 1.6, kAccent);
    axes.curve(c, rmsR, 1.6, kRight);
    c.text(axes.x + axes.w - 8, axes.y + 16, "R", 12, kRight, editor::Align::Right);
    c.text(axes.x + axes.w - 24, axes.y + 16, "L", 12, kAccent, editor::Align::Right);
    c.text(axes.x + axes.w - 40, axes.y + 16, "RMS bold, peak faint", 11, kDim, editor::Align::Right);
}

void correlationPanel(editor::Canvas& c, const Axes& axes, const Analysis& a) {
    const double seconds = static_cast<double>(a.frames) / a.sampleRate;
    axes.frame(c, "Decoded pair: correlation over time (+1 mono, 0 unrelated, -1 opposite)", "time (s)", "",
               niceStep(seconds, 10), 0.5, "%g", "%+.1f");
    std::vector<std::pair<double, double>> points;
    double t = 0;
    for (const TimeSlice& s : a.slices) {
        const bool silent = s.left.sumSquares == 0 || s.right.sumSquares == 0;
        points.emplace_back(t + 0.5 * s.frames / a.sampleRate, silent ? NAN : s.correlation());
        t += static_cast<double>(s.frames) / a.sampleRate;
    }
    axes.curve(c, points, 1.6, kPoints);
}

// The DI's cross-correlation with the microphones against the delay, peak marked.
void diPanel(editor::Canvas& c, const Axes& axes, const Analysis& a, bool zoom) {
    const double msPerSample = 1000.0 / a.sampleRate;
    const align::DiEstimate& mid = a.diAgainst[0];
    axes.frame(c, zoom ? "Around the peak, read between samples" : "DI against the microphones: normalised cross-correlation",
               zoom ? "delay (samples)" : "delay of the DI (ms; > 0 the DI leads)", "", zoom ? 1 : 2, 0.5, "%g", "%+.1f");
    c.line(axes.x, axes.py(0), axes.x + axes.w, axes.py(0), 1, kDim);
    for (std::size_t m = a.diAgainst.size(); m-- > 0;) {
        const std::vector<double>& curve = a.diAgainst[m].curve;
        if (curve.empty()) continue;
        std::vector<std::pair<double, double>> points;
        const auto count = static_cast<std::ptrdiff_t>(curve.size());
        if (zoom) {
            for (double d = axes.x0; d <= axes.x1; d += 0.02)
                points.emplace_back(d, align::valueBetween(curve.data(), count, d + a.windowSamples));
        } else {
            for (std::ptrdiff_t i = 0; i < count; ++i)
                points.emplace_back((static_cast<double>(i) - a.windowSamples) * msPerSample, curve[static_cast<std::size_t>(i)]);
        }
        axes.curve(c, points, m == 0 ? 1.6 : 1.0, m == 0 ? kAccent : kSideCurve);
        if (zoom)  // the whole lags themselves
            for (std::ptrdiff_t i = 0; i < count; ++i) {
                const double d = static_cast<double>(i) - a.windowSamples;
                if (d >= axes.x0 && d <= axes.x1 && m == 0) c.fillCircle(axes.px(d), axes.py(curve[static_cast<std::size_t>(i)]), 3, kText);
            }
    }
    if (!mid.reliable()) {
        c.text(axes.x + 10, axes.y + axes.h - 12, "no reliable estimate", 12, kOver);
        return;
    }
    const double at = zoom ? mid.delaySamples : mid.delaySamples * msPerSample;
    c.line(axes.px(at), axes.y, axes.px(at), axes.y + axes.h, 1.4, kOver);
    const std::string said = zoom ? number("peak at %.2f samples", mid.delaySamples)
                                  : describeDelay(mid.delaySamples, a.sampleRate, "mid");
    c.text(axes.x + 10, axes.y + axes.h - 12,
           said + (mid.inverted() ? ", inverted" : "") + number(", correlation %.2f", std::abs(mid.correlation)), 12, kText);
    if (!zoom) {
        c.text(axes.x + 10, axes.y + 18, "mid", 11, kAccent);
        c.text(axes.x + 40, axes.y + 18, "side", 11, kSideCurve);
    }
}

// The decoded pair's vectorscope, as the editor and --scope draw it, with its correlation.
void scopePanel(editor::Canvas& c, double x, double y, const Analysis& a) {
    c.text(x, y - 10, "Vectorscope of the decoded pair", 13, kText);
    const double diameter = kPlotHeight - 50;
    editor::ScopeStyle style;
    style.unit = 0.8;
    editor::drawScope(c, x + (kScopeWidth - diameter) / 2, y + 18, diameter, a.scope, editor::rimDb(a.scope.peakRadius()),
                      style);
    editor::drawCorrelation(c, x + 10, y + diameter + 38, kScopeWidth - 20, a.scope.correlation(), style);
}

}  // namespace

bool writeAnalysisPlot(const std::string& path, const Analysis& a, std::string& error) {
    const double top = kTitle + 24, correlationHeight = 0.7 * kPlotHeight;
    const double diTop = top + kPlotHeight + correlationHeight + 2 * kGap;
    editor::Canvas c(kWidth, static_cast<int>(diTop) + kPlotHeight + 44, kBackground);
    c.text(10, 22, "Take analysis: " + a.take, 14, kText);
    c.text(10, 40, "Settings: " + a.settings, 11, kDim);
    const auto& l = a.loudness;
    c.text(10, 56,
           "Integrated " + (std::isfinite(l.integratedLufs) ? number("%.1f LUFS", l.integratedLufs) : std::string("n/a")) +
               "   range " + number("%.1f LU", l.rangeLu) + "   true peak " +
               (std::isfinite(l.truePeakDbtp) ? number("%+.1f dBTP", l.truePeakDbtp) : std::string("-inf")),
           11, kDim);
    const double width = kWidth - kLeft - kRightMargin, seconds = static_cast<double>(a.frames) / a.sampleRate;
    levelsPanel(c, {kLeft, top, width, kPlotHeight, 0, seconds, -60, 6}, a);
    correlationPanel(c, {kLeft, top + kPlotHeight + kGap, width, correlationHeight, 0, seconds, -1, 1}, a);
    const double third = (width - kScopeWidth - 2 * kGap) / 2;
    const double windowMs = a.windowSamples * 1000.0 / a.sampleRate;
    diPanel(c, {kLeft, diTop, third, kPlotHeight, -windowMs, windowMs, -1, 1}, a, false);
    const double centre = a.diAgainst[0].reliable() ? std::round(a.diAgainst[0].delaySamples) : 0.0;
    diPanel(c, {kLeft + third + kGap, diTop, third, kPlotHeight, centre - 6, centre + 6, -1, 1}, a, true);
    scopePanel(c, kLeft + 2 * (third + kGap), diTop, a);
    return writePng(path, c.width(), c.height(), c.pixels(), error, /*alpha=*/false);
}

}  // namespace vstrender
