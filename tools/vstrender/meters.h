// Levels and stereo correlation of what the renderer writes, gathered block by block.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace vstrender {

class Meters {
public:
    explicit Meters(std::size_t channels) : peak_(channels, 0.0), sumSquares_(channels, 0.0) {}

    template <class Sample>
    void add(Sample* const* channels, std::size_t frames) {
        for (std::size_t k = 0; k < peak_.size(); ++k)
            for (std::size_t j = 0; j < frames; ++j) {
                const double v = static_cast<double>(channels[k][j]);
                if (std::abs(v) > peak_[k]) peak_[k] = std::abs(v);
                sumSquares_[k] += v * v;
            }
        if (peak_.size() >= 2)
            for (std::size_t j = 0; j < frames; ++j)
                productSum_ += static_cast<double>(channels[0][j]) * static_cast<double>(channels[1][j]);
        frames_ += frames;
    }

    std::uint64_t frames() const { return frames_; }
    double peakDb(std::size_t channel) const;
    double rmsDb(std::size_t channel) const;
    // Pearson correlation of the first two channels about zero, as a goniometer shows it:
    // +1 mono, 0 unrelated, -1 opposite phase. 0 when either is silent.
    double correlation() const;

private:
    std::vector<double> peak_, sumSquares_;
    double productSum_ = 0.0;
    std::uint64_t frames_ = 0;
};

std::string formatDb(double db);

}  // namespace vstrender
