// A complex discrete Fourier transform of a power-of-two length, in place (radix 2). Its
// twiddle factors come from the deterministic sinPi, so a transform gives the same bits on
// every processor and C library.
#pragma once

#include <complex>
#include <cstddef>
#include <vector>

namespace align {

class Fft {
public:
    explicit Fft(std::size_t size);  // a power of two, at least 2
    std::size_t size() const { return size_; }
    // X[k] = sum of x[n] e^(-2 pi i k n / N).
    void forward(std::complex<double>* data) const { transform(data, -1.0); }
    // x[n] = sum of X[k] e^(+2 pi i k n / N), not divided by N.
    void inverse(std::complex<double>* data) const { transform(data, 1.0); }

private:
    void transform(std::complex<double>* data, double sign) const;

    std::size_t size_;
    std::vector<std::size_t> reversed_;  // each index's bits reversed
    std::vector<double> cos_, sin_;      // of 2 pi k / N for k < N / 2
};

}  // namespace align
