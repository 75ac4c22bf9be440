// Where the DI pickup sits in time against a microphone, from the take itself: the
// cross-correlation of each microphone with the DI over a window of lags, summed over the
// whole take block by block (memory does not grow with the take), its strongest peak read
// between lags to a fraction of a sample.
#pragma once

#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "align/fft.h"

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
            for (int c = 0; c <= microphones_; ++c)
                pending_[static_cast<std::size_t>(c)][filled_] = dcBlocked(c, static_cast<double>(channels[c][j]));
            if (++filled_ == pending_[0].size()) correlateBlock();
        }
    }
    // The estimates, one per microphone; the correlator is spent afterwards.
    std::vector<DiEstimate> finish();

    int windowSamples() const { return window_; }
    std::uint64_t frames() const { return frames_; }

private:
    double dcBlocked(int channel, double x);
    void correlateBlock();
    DiEstimate estimate(int microphone) const;

    int microphones_, window_, margin_;
    std::size_t block_, fftSize_, filled_;
    std::uint64_t frames_ = 0;
    double dcPole_;
    std::vector<double> dcIn_, dcOut_, energy_;
    // Per channel: the samples still to be correlated, the DI's with `margin_` on either side.
    std::vector<std::vector<double>> pending_;
    std::vector<std::vector<std::complex<double>>> crossSpectrum_;  // summed over the blocks, per microphone
    std::vector<std::vector<double>> lags_;  // per microphone, at delays -margin_ .. margin_
    Fft fft_;
    // Two microphones' transform at once, and the DI's: real and imaginary parts.
    std::vector<double> pairRe_, pairIm_, diRe_, diIm_;
};

}  // namespace align
