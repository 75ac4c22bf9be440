// Where the DI pickup sits in time against a microphone, from the take itself, summed over the
// whole take as it comes (memory does not grow with the take). The delay is the peak of a
// generalised cross-correlation whose weighting keeps a room's reflections from pulling it
// (see weightedLags in the source), read between lags to a fraction of a sample. The plain
// normalised cross-correlation, over a window of lags, says how much the two share: its value
// at the delay is the estimate's correlation, and its curve is what the renderer plots.
#pragma once

#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "align/fft.h"
#include "align/tone_match.h"

namespace align {

// A lag's normalised correlation below this says the two share too little to place the DI.
inline constexpr double kReliableCorrelation = 0.2;
// The lags searched: at least this far either way.
inline constexpr double kSearchMilliseconds = 10.0;

struct DiEstimate {
    double delaySamples = 0;  // > 0: the DI leads (the microphone hears the string later)
    double correlation = 0;   // normalised, at the peak; < 0 when the DI's polarity is inverted
    bool silent = false;      // the microphone or the DI carries nothing to compare
    bool atEdge = false;      // the strongest lag is at the window's edge: no estimate
    bool reliable() const { return !silent && !atEdge && std::abs(correlation) >= kReliableCorrelation; }
    bool inverted() const { return correlation < 0; }
    // Normalised correlation at each whole lag from -window to +window (delay convention).
    std::vector<double> curve;
};

class DiCorrelator {
public:
    // `microphones` references (mid, then side) against one DI.
    DiCorrelator(double sampleRate, int microphones);
    DiCorrelator(const DiCorrelator&) = delete;
    DiCorrelator& operator=(const DiCorrelator&) = delete;

    // One block: the microphones' samples, then the DI's, each `frames` long.
    template <class Sample>
    void add(const Sample* const* channels, std::size_t frames) {
        for (std::size_t j = 0; j < frames; ++j) {
            for (int c = 0; c <= microphones_; ++c) {
                const double y = dcBlocked(c, static_cast<double>(channels[c][j]));
                pending_[static_cast<std::size_t>(c)][filled_] = y;
                recent_[static_cast<std::size_t>(c)][recentAt_] = y;
            }
            if (++recentAt_ == segment_) recentAt_ = 0;
            if (frames_ >= segment_ && (frames_ - segment_) % (segment_ / 2) == 0) addSegment();
            if (++filled_ == pending_[0].size()) correlateBlock();
        }
    }
    // The estimates, one per microphone; the correlator is spent afterwards.
    std::vector<DiEstimate> finish();
    // The estimates from what has been added so far, while adding goes on (the plain
    // correlation's last part block not yet counted): a measurement that settles as it plays.
    std::vector<DiEstimate> estimatesSoFar() const;
    // The same for the DI through these sections (the tone match): a minimum-phase filter
    // delays its low end more than its highs, so the DI that lines up after matching sits
    // elsewhere than the one before. The DI's spectrum through them is the sum's times their
    // response, so nothing is heard again.
    std::vector<DiEstimate> estimatesThrough(const Sections& sections) const;

    // The long-term spectra of a microphone and the DI summed so far, for the tone match.
    LongTermSpectra spectra(int microphone) const {
        const auto m = static_cast<std::size_t>(microphone);
        return {rate_ / static_cast<double>(segment_), &segmentPower_[m], &segmentPower_.back(), &segmentCross_[m]};
    }

    int windowSamples() const { return window_; }
    std::uint64_t frames() const { return frames_; }

private:
    double dcBlocked(int channel, double x);
    void correlateBlock();
    void addSegment();
    std::vector<double> plainLags(int microphone) const;
    std::vector<double> weightedLags(int microphone, const Sections* through = nullptr) const;
    DiEstimate estimate(int microphone, const std::vector<double>& plain, const std::vector<double>& sharp) const;

    double rate_;
    int microphones_, window_, margin_;
    std::size_t block_, fftSize_, filled_;
    std::uint64_t frames_ = 0;
    double dcPole_;
    std::vector<double> dcIn_, dcOut_, energy_;
    // Per channel: the samples still to be correlated, the DI's with `margin_` on either side.
    std::vector<std::vector<double>> pending_;
    std::vector<std::vector<std::complex<double>>> crossSpectrum_;  // summed over the blocks, per microphone
    Fft fft_;
    // Two microphones' transform at once, and the DI's: real and imaginary parts.
    std::vector<double> pairRe_, pairIm_, diRe_, diIm_;
    mutable std::vector<double> inverseRe_, inverseIm_;
    // The weighted correlation's spectra: Hann-windowed segments half overlapping, the last
    // `segment_` samples of each channel kept in a ring; per microphone the cross-spectrum with
    // the DI, per channel (the DI last) the power, summed over the segments.
    std::size_t segment_, recentAt_ = 0;
    std::uint64_t segments_ = 0;
    Fft segmentFft_;
    std::vector<double> hann_;
    std::vector<std::vector<double>> recent_, segmentPower_;
    std::vector<std::vector<std::complex<double>>> segmentCross_;
    std::vector<std::complex<double>> segmentDi_;  // the DI's transform of the segment at hand
};

}  // namespace align
