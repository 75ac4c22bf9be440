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
    : rate_(sampleRate),
      microphones_(microphones),
      window_(static_cast<int>(std::ceil(sampleRate * kSearchMilliseconds / 1000.0))),
      // Lags past the window, so the peak can be read between lags at the window's edge too.
      margin_(window_ + kSincHalfLength + 2),
      block_(0),
      fftSize_(powerOfTwoAtLeast(16 * static_cast<std::size_t>(margin_))),
      filled_(static_cast<std::size_t>(margin_)),  // the DI has nothing before the take's start
      dcPole_(1.0 - 2.0 * std::numbers::pi * kDcBlockHz / sampleRate),
      fft_(fftSize_),
      // Segments four times the lags' span: a delay at the window's edge still shares most of
      // a segment with the DI.
      segment_(powerOfTwoAtLeast(8 * static_cast<std::size_t>(margin_))),
      segmentFft_(segment_) {
    block_ = fftSize_ - 2 * static_cast<std::size_t>(margin_);
    const auto channels = static_cast<std::size_t>(microphones + 1);
    pending_.assign(channels, std::vector<double>(fftSize_, 0.0));
    dcIn_.assign(channels, 0.0);
    dcOut_.assign(channels, 0.0);
    energy_.assign(channels, 0.0);
    crossSpectrum_.assign(static_cast<std::size_t>(microphones), std::vector<std::complex<double>>(fftSize_ / 2 + 1));
    for (auto* v : {&pairRe_, &pairIm_, &diRe_, &diIm_}) v->resize(fftSize_);
    inverseRe_.resize(std::max(fftSize_, segment_)), inverseIm_.resize(std::max(fftSize_, segment_));
    recent_.assign(channels, std::vector<double>(segment_, 0.0));
    segmentPower_.assign(channels, std::vector<double>(segment_ / 2 + 1, 0.0));
    segmentCross_.assign(static_cast<std::size_t>(microphones), std::vector<std::complex<double>>(segment_ / 2 + 1));
    segmentDi_.resize(segment_ / 2 + 1);
    hann_.resize(segment_);
    for (std::size_t n = 0; n < segment_; ++n) {
        const double s = sinPi(static_cast<double>(n) / static_cast<double>(segment_));
        hann_[n] = s * s;
    }
}

// One segment of the last `segment_` samples, windowed: its spectra summed. The microphones
// two at a time in one transform, the DI alone, each told apart by symmetry as in the blocks.
void DiCorrelator::addSegment() {
    const std::size_t n = segment_, bins = n / 2 + 1;
    std::vector<double>& re = inverseRe_;
    std::vector<double>& im = inverseIm_;
    auto load = [&](std::size_t a, std::size_t b, bool pair) {
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t at = (recentAt_ + i) % n;  // oldest first
            re[i] = hann_[i] * recent_[a][at];
            im[i] = pair ? hann_[i] * recent_[b][at] : 0.0;
        }
        segmentFft_.forward(re.data(), im.data());
    };
    load(static_cast<std::size_t>(microphones_), 0, false);
    std::vector<std::complex<double>>& di = segmentDi_;  // kept: a segment allocates nothing
    for (std::size_t k = 0; k < bins; ++k) {
        di[k] = {re[k], im[k]};
        segmentPower_.back()[k] += re[k] * re[k] + im[k] * im[k];
    }
    for (int c = 0; c < microphones_; c += 2) {
        const bool pair = c + 1 < microphones_;
        load(static_cast<std::size_t>(c), static_cast<std::size_t>(c + 1), pair);
        for (std::size_t k = 0; k < bins; ++k) {
            const std::size_t mirror = (n - k) % n;
            const std::complex<double> z(re[k], im[k]), w(re[mirror], -im[mirror]);
            const std::complex<double> a = (z + w) / 2.0, b = (z - w) / std::complex<double>(0, 2);
            segmentPower_[static_cast<std::size_t>(c)][k] += std::norm(a);
            segmentCross_[static_cast<std::size_t>(c)][k] += std::conj(a) * di[k];
            if (!pair) continue;
            segmentPower_[static_cast<std::size_t>(c + 1)][k] += std::norm(b);
            segmentCross_[static_cast<std::size_t>(c + 1)][k] += std::conj(b) * di[k];
        }
    }
    ++segments_;
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
    return estimatesSoFar();
}

std::vector<DiEstimate> DiCorrelator::estimatesSoFar() const {
    std::vector<DiEstimate> all;
    for (int c = 0; c < microphones_; ++c) all.push_back(estimate(c, plainLags(c), weightedLags(c)));
    return all;
}

std::vector<DiEstimate> DiCorrelator::estimatesThrough(const Sections& sections) const {
    std::vector<DiEstimate> all;
    for (int c = 0; c < microphones_; ++c) all.push_back(estimate(c, plainLags(c), weightedLags(c, &sections)));
    return all;
}

// The plain correlation at delays -margin_ .. margin_, from the blocks' summed spectrum.
std::vector<double> DiCorrelator::plainLags(int microphone) const {
    const std::size_t bins = fftSize_ / 2 + 1, lagCount = 2 * static_cast<std::size_t>(margin_) + 1;
    const auto& half = crossSpectrum_[static_cast<std::size_t>(microphone)];
    for (std::size_t k = 0; k < fftSize_; ++k) {  // the whole spectrum of a real correlation
        const std::complex<double> v = k < bins ? half[k] : std::conj(half[fftSize_ - k]);
        inverseRe_[k] = v.real(), inverseIm_[k] = v.imag();
    }
    fft_.inverse(inverseRe_.data(), inverseIm_.data());
    std::vector<double> lags(lagCount);
    for (std::size_t i = 0; i < lagCount; ++i)  // delay d = i - margin is lag index margin - d
        lags[i] = inverseRe_[lagCount - 1 - i] / static_cast<double>(fftSize_);
    return lags;
}

// The correlation the delay is read from, at delays -margin_ .. margin_. A guitar's energy
// sits low and in the lines of its notes, so the plain correlation's peak is wide and rings,
// and a reflection a millisecond later, at half the level, adds its own copy beside it and
// pulls it late by tenths of a sample. The phase transform divides each frequency's magnitude
// out of the cross-spectrum (estimated over half-overlapping Hann-windowed segments, so each
// bin is a true average), so every frequency counts alike: the direct path's peak is as narrow
// as the band allows, and a weaker reflection's stands apart from it. Each bin is weighted by
// the two channels' coherence over the take (C = |S|^2 / (Pmic Pdi), 0 to 1) to the fourth
// power: a note's lines, where the microphone is the DI through the room (C near 1), count
// fully, and the bins between them, where noise and the room's diffuse sound rule (C of a few
// hundredths over a few seconds), count for nothing instead of adding noise to the peak (the
// first power leaves a sparse take's estimate tenths of a sample off; the fourth is within
// 0.01 on clean takes and 0.035 in rooms). Tapered to nothing from 0.35 to 0.45 of the rate,
// so that the result is band-limited where the sinc reading between lags is exact.
std::vector<double> DiCorrelator::weightedLags(int microphone, const Sections* through) const {
    const std::size_t n = segment_, bins = n / 2 + 1, lagCount = 2 * static_cast<std::size_t>(margin_) + 1;
    const auto& cross = segmentCross_[static_cast<std::size_t>(microphone)];
    const auto& mic = segmentPower_[static_cast<std::size_t>(microphone)];
    const auto& di = segmentPower_.back();
    for (std::size_t k = 0; k < n; ++k) {
        const std::size_t bin = k < bins ? k : n - k;
        const double f = static_cast<double>(bin) / static_cast<double>(n);  // of the rate
        std::complex<double> g = 0.0;
        if (bin > 0 && f < 0.45 && mic[bin] * di[bin] > 0.0) {
            const double taper = f <= 0.35 ? 1.0 : 0.5 + 0.5 * std::cos(std::numbers::pi * (f - 0.35) / 0.1);
            const double magnitude = std::abs(cross[bin]);
            const double coherence = magnitude * magnitude / (mic[bin] * di[bin]);
            const double squared = coherence * coherence;
            g = cross[bin] * (squared * squared / magnitude * taper);
            // Through a filter: its phase (the weighting divides its magnitude out again).
            if (through != nullptr) {
                const std::complex<double> h = sectionsResponse(*through, static_cast<double>(bin) * rate_ / static_cast<double>(n), rate_);
                g *= h / std::abs(h);
            }
        }
        if (k >= bins) g = std::conj(g);
        inverseRe_[k] = g.real(), inverseIm_[k] = g.imag();
    }
    segmentFft_.inverse(inverseRe_.data(), inverseIm_.data());
    std::vector<double> lags(lagCount);
    for (std::size_t i = 0; i < lagCount; ++i) {  // delay d = i - margin at circular lag -d
        const std::size_t at = (n + static_cast<std::size_t>(margin_) - i) % n;
        lags[i] = inverseRe_[at] / static_cast<double>(n);
    }
    return lags;
}

DiEstimate DiCorrelator::estimate(int microphone, const std::vector<double>& lags, const std::vector<double>& sharp) const {
    DiEstimate e;
    const double scale = std::sqrt(energy_[static_cast<std::size_t>(microphone)] * energy_.back());
    e.silent = !(scale > 0.0);
    if (e.silent) return e;
    // The plain correlation's strongest lag says whether the DI lies beyond the window; the
    // weighted one's places it (a take too short for a segment has only the plain one).
    const std::vector<double>& placing = segments_ > 0 ? sharp : lags;
    int plainBest = -window_, best = -window_;
    for (int d = -window_; d <= window_; ++d) {
        const auto i = static_cast<std::size_t>(d + margin_);
        e.curve.push_back(lags[i] / scale);
        if (std::abs(e.curve.back()) > std::abs(e.curve[static_cast<std::size_t>(plainBest + window_)])) plainBest = d;
        if (std::abs(placing[i]) > std::abs(placing[static_cast<std::size_t>(best + margin_)])) best = d;
    }
    e.delaySamples = best;
    e.correlation = e.curve[static_cast<std::size_t>(best + window_)];
    e.atEdge = std::abs(plainBest) == window_ || std::abs(best) == window_;
    if (e.atEdge) {
        if (std::abs(plainBest) == window_) e.delaySamples = plainBest, e.correlation = e.curve[static_cast<std::size_t>(plainBest + window_)];
        return e;
    }

    // Between lags: the correlation is band-limited, so the windowed sinc reads it there. A fine grid over the neighbouring lags, then a golden-section search.
    auto strength = [&](double delay) {
        return std::abs(valueBetween(placing.data(), static_cast<std::ptrdiff_t>(placing.size()), delay + margin_));
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
