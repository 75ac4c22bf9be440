// A vectorscope (goniometer) of a stereo pair, written as a PNG: mid upwards, side across,
// so a mono signal is a vertical line and a wide one a broad cloud; below it a correlation
// meter from -1 to +1.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vstrender {

class Scope {
public:
    static constexpr int Size = 512;

    template <class Sample>
    void add(const Sample* left, const Sample* right, std::size_t frames) {
        for (std::size_t j = 0; j < frames; ++j) plot(static_cast<double>(left[j]), static_cast<double>(right[j]));
    }
    bool writePng(const std::string& path, double correlation, std::string& error) const;

private:
    void plot(double left, double right);
    std::vector<std::uint32_t> hits_ = std::vector<std::uint32_t>(Size * Size, 0);
};

}  // namespace vstrender
