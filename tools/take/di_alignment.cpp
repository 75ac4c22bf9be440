#include "tools/take/di_alignment.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <numbers>

#include "tools/take/sinc.h"

namespace take {

namespace {

// Below this the DC blocker takes nothing: far under a guitar's lowest string (82 Hz).
constexpr double kDcBlockHz = 5.0;

std::size_t powerOfTwoAtLeast(std::size_t n) {
    std::size_t p = 1;
    while (p < n) p *= 2;
    return p;
}

}  // namespace

DiCorrelator::DiCorrelator(double sampleRate, int microphones)
    : microphones_(microphones),
      window_(static_cast<int>(std::ceil(sampleRate * kSearchMilliseconds / 1000.0))),
      // Lags past the window, so the peak can be read between lags at the window's edge too.
      margin_(window_ + kSincHalfLength + 2),
      dcPole_(1.0 - 2.0 * std::numbers::pi * kDcBlockHz / sampleRate) {
    // Each block correlates `block_` microphone samples with the DI's around them: a transform
    // of eight times the lags' span keeps the overlap small.
    const std::size_t span = 2 * static_cast<std::size_t>(margin_);
    fftSize_ = powerOfTwoAtLeast(8 * span);
    block_ = fftSize_ - span;
    filled_ = static_cast<std::size_t>(margin_);  // the DI has nothing before the take's start
    const auto channels = static_cast<std::size_t>(microphones + 1);
    pending_.assign(channels, std::vector<double>(fftSize_, 0.0));
    dcIn_.assign(channels, 0.0);
    dcOut_.assign(channels, 0.0);
    energy_.assign(channels, 0.0);
    const std::size_t bins = fftSize_ / 2 + 1;
    for (int c = 0; c < microphones; ++c) {
        crossSpectrum_.push_back(fftw_alloc_complex(bins));
        std::memset(crossSpectrum_.back(), 0, bins * sizeof(fftw_complex));
    }
    timeBuffer_ = fftw_alloc_real(fftSize_);
    micSpectrum_ = fftw_alloc_complex(bins);
    diSpectrum_ = fftw_alloc_complex(bins);
    // FFTW_ESTIMATE: the same plan, and so the same numbers, on every run.
    const int n = static_cast<int>(fftSize_);
    forward_ = fftw_plan_dft_r2c_1d(n, timeBuffer_, micSpectrum_, FFTW_ESTIMATE);
    inverse_ = fftw_plan_dft_c2r_1d(n, micSpectrum_, timeBuffer_, FFTW_ESTIMATE);
}

DiCorrelator::~DiCorrelator() {
    fftw_destroy_plan(forward_);
    fftw_destroy_plan(inverse_);
    for (fftw_complex* spectrum : crossSpectrum_) fftw_free(spectrum);
    fftw_free(timeBuffer_);
    fftw_free(micSpectrum_);
    fftw_free(diSpectrum_);
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
    std::copy(di.begin(), di.end(), timeBuffer_);
    fftw_execute_dft_r2c(forward_, timeBuffer_, diSpectrum_);
    for (int c = 0; c < microphones_; ++c) {
        const std::vector<double>& mic = pending_[static_cast<std::size_t>(c)];
        std::fill(timeBuffer_, timeBuffer_ + fftSize_, 0.0);
        std::copy(mic.begin() + margin_, mic.begin() + margin_ + static_cast<std::ptrdiff_t>(block_), timeBuffer_);
        fftw_execute_dft_r2c(forward_, timeBuffer_, micSpectrum_);
        fftw_complex* sum = crossSpectrum_[static_cast<std::size_t>(c)];
        for (std::size_t k = 0; k < bins; ++k) {
            // conj(mic) * di
            sum[k][0] += micSpectrum_[k][0] * diSpectrum_[k][0] + micSpectrum_[k][1] * diSpectrum_[k][1];
            sum[k][1] += micSpectrum_[k][0] * diSpectrum_[k][1] - micSpectrum_[k][1] * diSpectrum_[k][0];
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
        std::memcpy(micSpectrum_, crossSpectrum_[static_cast<std::size_t>(c)], bins * sizeof(fftw_complex));
        fftw_execute_dft_c2r(inverse_, micSpectrum_, timeBuffer_);
        std::vector<double> lags(lagCount);
        for (std::size_t i = 0; i < lagCount; ++i)  // delay d = i - margin is lag index margin - d
            lags[i] = timeBuffer_[lagCount - 1 - i] / static_cast<double>(fftSize_);
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

}  // namespace take
