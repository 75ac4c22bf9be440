#include "align/fft.h"

#include <cstring>
#include <stdexcept>
#include <utility>

#include "align/sinc.h"

namespace align {

namespace {

using Pair = double __attribute__((vector_size(16)));  // two lanes: SSE2 and NEON registers

// Unaligned moves of two lanes at once.
Pair load(const double* p) {
    Pair v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
void store(double* p, Pair v) { std::memcpy(p, &v, sizeof v); }

}  // namespace

Fft::Fft(std::size_t size) : size_(size) {
    if (size < 8 || (size & (size - 1)) != 0) throw std::invalid_argument("a transform's length is a power of two, at least 8");
    int bits = 0;
    while ((std::size_t{1} << bits) < size) ++bits;
    reversed_.resize(size);
    for (std::size_t i = 0; i < size; ++i) {
        std::size_t r = 0;
        for (int b = 0; b < bits; ++b) r |= ((i >> b) & 1) << (bits - 1 - b);
        reversed_[i] = r;
    }
    // Each stage's twiddles in a run of their own, from the stage of half length 2 on (the one
    // before needs none): e^(-+2 pi i j / (2 half)) for j < half.
    for (std::size_t half = 2; half < size; half *= 2)
        for (std::size_t j = 0; j < half; ++j) {
            const double turn = static_cast<double>(j) / static_cast<double>(half);
            cos_.push_back(sinPi(turn + 0.5));
            sin_.push_back(sinPi(turn));
        }
}

void Fft::transform(double* re, double* im, double sign) const {
    for (std::size_t i = 0; i < size_; ++i)
        if (i < reversed_[i]) std::swap(re[i], re[reversed_[i]]), std::swap(im[i], im[reversed_[i]]);
    // Half length 1: the twiddle is 1, additions only.
    for (std::size_t start = 0; start < size_; start += 2) {
        const double r = re[start + 1], i = im[start + 1];
        re[start + 1] = re[start] - r, im[start + 1] = im[start] - i;
        re[start] += r, im[start] += i;
    }
    // Then two butterflies at a time, one in each lane.
    const double* wr = cos_.data();
    const double* wi = sin_.data();
    const Pair turn = {sign, sign};
    for (std::size_t half = 2; half < size_; half *= 2) {
        for (std::size_t start = 0; start < size_; start += 2 * half) {
            double *ar = re + start, *ai = im + start, *br = re + start + half, *bi = im + start + half;
            for (std::size_t j = 0; j < half; j += 2) {
                const Pair cr = load(wr + j), ci = turn * load(wi + j);
                const Pair xr = load(br + j), xi = load(bi + j), yr = load(ar + j), yi = load(ai + j);
                const Pair tr = xr * cr - xi * ci, ti = xr * ci + xi * cr;
                store(br + j, yr - tr), store(bi + j, yi - ti);
                store(ar + j, yr + tr), store(ai + j, yi + ti);
            }
        }
        wr += half, wi += half;
    }
}

}  // namespace align
