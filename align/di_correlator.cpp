#include "align/di_correlator.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

#include "align/sinc.h"

namespace align {

namespace {

// Below this the DC blocker takes nothing: far under a guitar's lowest string (82 Hz).
constexpr double kDcBlockHz = 5.0;

std::size_t powerOfTwoAtLeast(std::size_t n) {
    std::size_t p = 1;
    while (p < n) p *= 2;
    return p;
}

}  // namespace

// Each block correlates `block_` microphone samples with the DI's around them: a transform of
// eight times the lags' span keeps the overlap small.
DiCorrelator::DiCorrelator(double sampleRate, int microphones)
    : microphones_(microphones),
      window_(static_cast<int>(std::ceil(sampleRate * kSearchMilliseconds / 1000.0))),
      // Lags past the window, so the peak can be read between lags at the window's edge too.
      margin_(window_ + kSincHalfLength + 2),
      block_(0),
      fftSize_(powerOfTwoAtLeast(16 * static_cast<std::size_t>(margin_))),
      filled_(static_cast<std::size_t>(margin_)),  // the DI has nothing before the take's start
      dcPole_(1.0 - 2.0 * std::numbers::pi * kDcBlockHz / sampleRate),
      fft_(fftSize_) {
    block_ = fftSize_ - 2 * static_cast<std::size_t>(margin_);
    const auto channels = static_cast<std::size_t>(microphones + 1);
    pending_.assign(channels, std::vector<double>(fftSize_, 0.0));
    dcIn_.assign(channels, 0.0);
    dcOut_.assign(channels, 0.0);
    energy_.assign(channels, 0.0);
    crossSpectrum_.assign(static_cast<std::size_t>(microphones), std::vector<std::complex<double>>(fftSize_ / 2 + 1));
    for (auto* v : {&pairRe_, &pairIm_, &diRe_, &diIm_}) v->resize(fftSize_);
}

double DiCorrelator::dcBlocked(int channel, double x) {
    const auto c = static_cast<std::size_t>(channel);
    const double y = x - dcIn_[c] + dcPole_ * dcOut_[c];
    dcIn_[c] = x;
    dcOut_[c] = y;
    energy_[c] += y * y;
    if (channel == microphones_) ++frames_;
    return y;
}

// One block: for lag index j, sum over m of mic[margin + m] * di[m + j], which is the
// correlation at delay margin - j. Linear, not circular: the transform is long enough.
void DiCorrelator::correlateBlock() {
    const std::size_t bins = fftSize_ / 2 + 1;
    const std::vector<double>& di = pending_[static_cast<std::size_t>(microphones_)];
    std::copy(di.begin(), di.end(), diRe_.begin());
    std::fill(diIm_.begin(), diIm_.end(), 0.0);
    fft_.forward(diRe_.data(), diIm_.data());
    // Two microphones in one transform, as its real and imaginary parts, told apart by symmetry.
    for (int c = 0; c < microphones_; c += 2) {
        const auto& a = pending_[static_cast<std::size_t>(c)];
        const auto* b = c + 1 < microphones_ ? &pending_[static_cast<std::size_t>(c + 1)] : nullptr;
        const std::size_t from = static_cast<std::size_t>(margin_);
        for (std::size_t n = 0; n < fftSize_; ++n) {
            pairRe_[n] = n < block_ ? a[from + n] : 0.0;
            pairIm_[n] = n < block_ && b ? (*b)[from + n] : 0.0;
        }
        fft_.forward(pairRe_.data(), pairIm_.data());
        for (std::size_t k = 0; k < bins; ++k) {
            const std::size_t mirror = (fftSize_ - k) % fftSize_;
            const std::complex<double> z(pairRe_[k], pairIm_[k]), w(pairRe_[mirror], -pairIm_[mirror]);
            const double ar = (z.real() + w.real()) / 2, ai = (z.imag() + w.imag()) / 2;  // (z + w) / 2
            const double br = (z.imag() - w.imag()) / 2, bi = (w.real() - z.real()) / 2;  // (z - w) / 2i
            const double dr = diRe_[k], dii = diIm_[k];
            // conj(mic) * di, summed
            auto& sumA = crossSpectrum_[static_cast<std::size_t>(c)][k];
            sumA = {sumA.real() + (ar * dr + ai * dii), sumA.imag() + (ar * dii - ai * dr)};
            if (b) {
                auto& sumB = crossSpectrum_[static_cast<std::size_t>(c + 1)][k];
                sumB = {sumB.real() + (br * dr + bi * dii), sumB.imag() + (br * dii - bi * dr)};
            }
        }
    }
    // Keep the lags' span for the next block: the DI's context before its microphone samples.
    const std::size_t span = 2 * static_cast<std::size_t>(margin_);
    for (auto& channel : pending_) {
        std::copy(channel.end() - static_cast<std::ptrdiff_t>(span), channel.end(), channel.begin());
        std::fill(channel.begin() + static_cast<std::ptrdiff_t>(span), channel.end(), 0.0);
    }
    filled_ = span;
}

std::vector<DiEstimate> DiCorrelator::finish() {
    // The last microphone samples, with silence after the take's end.
    if (filled_ > static_cast<std::size_t>(margin_)) {
        for (auto& channel : pending_) std::fill(channel.begin() + static_cast<std::ptrdiff_t>(filled_), channel.end(), 0.0);
        correlateBlock();
    }
    const std::size_t bins = fftSize_ / 2 + 1, lagCount = 2 * static_cast<std::size_t>(margin_) + 1;
    std::vector<DiEstimate> estimates;
    for (int c = 0; c < microphones_; ++c) {
        // The whole spectrum of a real correlation, from its lower half.
        const auto& half = crossSpectrum_[static_cast<std::size_t>(c)];
        for (std::size_t k = 0; k < fftSize_; ++k) {
            const std::complex<double> v = k < bins ? half[k] : std::conj(half[fftSize_ - k]);
            pairRe_[k] = v.real(), pairIm_[k] = v.imag();
        }
        fft_.inverse(pairRe_.data(), pairIm_.data());
        std::vector<double> lags(lagCount);
        for (std::size_t i = 0; i < lagCount; ++i)  // delay d = i - margin is lag index margin - d
            lags[i] = pairRe_[lagCount - 1 - i] / static_cast<double>(fftSize_);
        lags_.push_back(std::move(lags));
        estimates.push_back(estimate(c));
    }
    return estimates;
}

DiEstimate DiCorrelator::estimate(int microphone) const {
    DiEstimate e;
    const double scale = std::sqrt(energy_[static_cast<std::size_t>(microphone)] * energy_.back());
    e.silent = !(scale > 0.0);
    if (e.silent) return e;
    const std::vector<double>& lags = lags_[static_cast<std::size_t>(microphone)];
    int best = -window_;
    for (int d = -window_; d <= window_; ++d) {
        e.curve.push_back(lags[static_cast<std::size_t>(d + margin_)] / scale);
        if (std::abs(e.curve.back()) > std::abs(e.curve[static_cast<std::size_t>(best + window_)])) best = d;
    }
    e.delaySamples = best;
    e.correlation = e.curve[static_cast<std::size_t>(best + window_)];
    e.atEdge = std::abs(best) == window_;
    if (e.atEdge) return e;

    // Between lags: the correlation is as band-limited as the take, so the windowed sinc
    // reads it there. A fine grid over the neighbouring lags, then a golden-section search.
    auto strength = [&](double delay) {
        return std::abs(valueBetween(lags.data(), static_cast<std::ptrdiff_t>(lags.size()), delay + margin_));
    };
    double at = best, strongest = strength(at);
    for (int step = -100; step <= 100; ++step) {
        const double x = best + step / 100.0;
        if (const double s = strength(x); s > strongest) {
            strongest = s;
            at = x;
        }
    }
    const double golden = (std::sqrt(5.0) - 1.0) / 2.0;
    double lo = at - 0.01, hi = at + 0.01;
    while (hi - lo > 1e-7) {
        const double a = hi - golden * (hi - lo), b = lo + golden * (hi - lo);
        if (strength(a) > strength(b))
            hi = b;
        else
            lo = a;
    }
    e.delaySamples = (lo + hi) / 2.0;
    e.correlation = valueBetween(lags.data(), static_cast<std::ptrdiff_t>(lags.size()), e.delaySamples + margin_) / scale;
    return e;
}

}  // namespace align
