// The vectorscope (goniometer) of a stereo pair and its correlation meter, gathered from
// samples and drawn on a canvas: mid up, side across, L and R on the diagonals, rings in dBFS,
// overloads in red. The renderer's picture of a whole take and the editor's live view are the
// same drawing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "editor/canvas.h"

namespace editor {

// Points by angle and by level of their distance from the centre, with the pair's peaks and
// correlation sums.
class ScopeData {
public:
    ScopeData(int angles = 720, int levels = 720);

    template <class Sample>
    void add(const Sample* left, const Sample* right, std::size_t frames) {
        for (std::size_t j = 0; j < frames; ++j) add(static_cast<double>(left[j]), static_cast<double>(right[j]));
    }
    void add(double left, double right);
    // Older points fade: every count and sum times `factor` (a live view; a take keeps all).
    // Answers whether any point was left to fade.
    bool fade(double factor);
    void clear();

    double peakLeft() const { return peakLeft_; }
    double peakRight() const { return peakRight_; }
    double peakRadius() const { return peakRadius_; }
    double correlation() const;  // +1 mono, 0 unrelated, -1 opposite; 0 when either is silent
    std::uint64_t overloads() const { return overloads_; }

    static constexpr double LowestDb = -120.0, HighestDb = 24.0;
    int angles() const { return angles_; }
    int levels() const { return levels_; }
    float hits(int angle, int level) const { return hits_[static_cast<std::size_t>(angle * levels_ + level)]; }
    float mostHits() const;

private:
    int angles_, levels_;
    std::vector<float> hits_;
    double peakLeft_ = 0, peakRight_ = 0, peakRadius_ = 0, sumLL_ = 0, sumRR_ = 0, sumLR_ = 0;
    std::uint64_t overloads_ = 0;
};

// The level at the rim for a pair peaking at `peak` (linear): the nearest of a few steps at
// or above it, so a quiet take fills the scope and a hot one shows where it passes 0 dBFS.
double rimDb(double peak);

struct ScopeStyle {
    double unit = 1;          // pixels per design unit: text sizes, line widths
    bool logarithmic = false;  // levels spread evenly in dB down to 60 below the rim
};

// The scope in the square of side `diameter` at (x, y), with its axis letters around it.
void drawScope(Canvas& canvas, double x, double y, double diameter, const ScopeData& data, double rim,
               const ScopeStyle& style);
// The correlation meter from -1 to +1, ticked, with its value under it.
void drawCorrelation(Canvas& canvas, double x, double y, double width, double correlation, const ScopeStyle& style);

std::string dbText(double db);  // "+1.5", "-INF"
double toDb(double amplitude);

// Shared colours of the house look.
namespace palette {
inline constexpr Color kBackground{16, 18, 23}, kPanel{27, 30, 37}, kGrid{58, 64, 77}, kText{222, 224, 228},
    kDim{140, 146, 158}, kAccent{96, 200, 255}, kOver{235, 64, 52}, kPoints{80, 235, 140};
}

}  // namespace editor
