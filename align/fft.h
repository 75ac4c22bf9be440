// A complex discrete Fourier transform of a power-of-two length, in place (radix 2), on the
// real and imaginary parts in arrays of their own. Its twiddle factors come from the
// deterministic sinPi, and its lanes are plain IEEE arithmetic, so a transform gives the same
// bits on every processor and C library.
#pragma once

#include <cstddef>
#include <vector>

namespace align {

class Fft {
public:
    explicit Fft(std::size_t size);  // a power of two, at least 4
    std::size_t size() const { return size_; }
    // X[k] = sum of x[n] e^(-2 pi i k n / N).
    void forward(double* re, double* im) const { transform(re, im, -1.0); }
    // x[n] = sum of X[k] e^(+2 pi i k n / N), not divided by N.
    void inverse(double* re, double* im) const { transform(re, im, 1.0); }

private:
    void transform(double* re, double* im, double sign) const;

    std::size_t size_;
    std::vector<std::size_t> reversed_;  // each index's bits reversed
    std::vector<double> cos_, sin_;      // each stage's twiddles, one run after another
};

}  // namespace align
