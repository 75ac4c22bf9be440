// Vectorscopes (goniometers) of stereo pairs, written as one PNG: mid upwards, side across, L
// and R on the diagonals, so a mono signal is a vertical line and a wide one a broad cloud.
// Each panel has its level scale (chosen from the take's peak, or logarithmic), overload marked
// in red, its peaks and a correlation meter; a title names the file and the settings.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vstrender {

class Scope {
public:
    template <class Sample>
    void add(const Sample* left, const Sample* right, std::size_t frames) {
        for (std::size_t j = 0; j < frames; ++j) plot(static_cast<double>(left[j]), static_cast<double>(right[j]));
    }
    double peakLeft() const { return peakLeft_; }
    double peakRight() const { return peakRight_; }
    double correlation() const;
    std::uint64_t overloads() const { return overloads_; }

    // Hits by angle and by level of the point's distance from the centre.
    static constexpr int Angles = 720, Levels = 720;
    static constexpr double LowestDb = -120.0, HighestDb = 24.0;

private:
    void plot(double left, double right);
    std::vector<std::uint32_t> hits_ = std::vector<std::uint32_t>(Angles * Levels, 0);
    double peakLeft_ = 0.0, peakRight_ = 0.0, sumLL_ = 0.0, sumRR_ = 0.0, sumLR_ = 0.0, peakRadius_ = 0.0;
    std::uint64_t overloads_ = 0;
    friend class ScopePicture;
};

struct ScopePanel {
    const Scope* scope;
    std::string caption;  // what the panel shows, e.g. "outputs 1 and 2, as set"
};

// Draws the panels side by side under a title of a few lines; false with `error` said.
bool writeScopePicture(const std::string& path, const std::vector<std::string>& title,
                       const std::vector<ScopePanel>& panels, bool logarithmic, std::string& error);

}  // namespace vstrender
