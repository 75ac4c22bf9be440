#include "align/fft.h"

#include <stdexcept>
#include <utility>

#include "align/sinc.h"

namespace align {

Fft::Fft(std::size_t size) : size_(size) {
    if (size < 2 || (size & (size - 1)) != 0) throw std::invalid_argument("a transform's length is a power of two");
    int bits = 0;
    while ((std::size_t{1} << bits) < size) ++bits;
    reversed_.resize(size);
    for (std::size_t i = 0; i < size; ++i) {
        std::size_t r = 0;
        for (int b = 0; b < bits; ++b) r |= ((i >> b) & 1) << (bits - 1 - b);
        reversed_[i] = r;
    }
    for (std::size_t k = 0; k < size / 2; ++k) {
        const double turn = 2.0 * static_cast<double>(k) / static_cast<double>(size);
        cos_.push_back(sinPi(turn + 0.5));
        sin_.push_back(sinPi(turn));
    }
}

void Fft::transform(std::complex<double>* data, double sign) const {
    for (std::size_t i = 0; i < size_; ++i)
        if (i < reversed_[i]) std::swap(data[i], data[reversed_[i]]);
    // Plain real arithmetic: std::complex's product checks for infinities at every call.
    auto* x = reinterpret_cast<double*>(data);
    for (std::size_t half = 1; half < size_; half *= 2) {
        const std::size_t stride = size_ / (2 * half);
        for (std::size_t start = 0; start < size_; start += 2 * half)
            for (std::size_t j = 0; j < half; ++j) {
                const double wr = cos_[j * stride], wi = sign * sin_[j * stride];
                double* a = x + 2 * (start + j);
                double* b = x + 2 * (start + j + half);
                const double tr = b[0] * wr - b[1] * wi, ti = b[0] * wi + b[1] * wr;
                b[0] = a[0] - tr, b[1] = a[1] - ti;
                a[0] += tr, a[1] += ti;
            }
    }
}

}  // namespace align
