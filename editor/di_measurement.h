// The DI's delay and polarity measured while the take plays, for the editor's "Measure". The
// audio thread only copies the three inputs into a ring, and only while a measurement asks for
// them; the editor's timer takes them out and runs the renderer's estimator on the seconds in
// which the mid microphone and the DI carry signal.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "align/di_correlator.h"

namespace editor {

// The audio thread's side, one per plug-in instance.
class MeasureFeed {
public:
    static constexpr std::size_t kCapacity = std::size_t{1} << 17;  // frames: over 2.7 s at 48 kHz

    // The rate the inputs come at (not while processing).
    void setSampleRate(double rate) { rate_ = rate; }
    double sampleRate() const { return rate_; }

    // From the editor: copy from the next block on, or stop. The ring is made at the first arm.
    void arm();
    void disarm() { armed_.store(false, std::memory_order_relaxed); }
    bool armed() const { return armed_.load(std::memory_order_relaxed); }

    // The audio thread: the block's inputs, if armed; a block that does not fit is left out
    // and the gap said to the reader.
    template <class Sample>
    void copy(const Sample* const* inputs, std::int32_t frames) noexcept {
        if (!armed_.load(std::memory_order_acquire) || frames <= 0) return;
        const std::size_t write = write_.load(std::memory_order_relaxed);
        const std::size_t read = read_.load(std::memory_order_acquire);
        const auto n = static_cast<std::size_t>(frames);
        if (kCapacity - (write - read) < n) {
            gap_.store(true, std::memory_order_relaxed);
            return;
        }
        // Each channel in at most two runs: up to the ring's end, then from its start.
        const std::size_t at = write & (kCapacity - 1), first = std::min(n, kCapacity - at);
        for (int c = 0; c < 3; ++c) {
            float* ring = ring_.get() + static_cast<std::size_t>(c) * kCapacity;
            std::copy(inputs[c], inputs[c] + first, ring + at);
            std::copy(inputs[c] + first, inputs[c] + n, ring);
        }
        write_.store(write + n, std::memory_order_release);
    }

    // The reader: up to `frames` frames (interleaved mid, side, DI); `gap` says frames were
    // left out since the last call.
    std::size_t take(float* interleaved, std::size_t frames, bool& gap);

private:
    std::unique_ptr<float[]> ring_;  // the three channels one after the other, kCapacity each
    std::atomic<bool> armed_{false}, gap_{false};
    std::atomic<std::size_t> write_{0}, read_{0};
    double rate_ = 48000;
};

// The editor's side: one measurement, from Measure to its answer. It needs three seconds of
// playing before it shows a figure; then it goes on adding what plays and shows the latest
// figure and how settled it is, until MEASURE is pressed again or the take stops (two seconds
// of silence), when the figure over all it heard is the answer.
class DiMeasurement {
public:
    static constexpr double kSeconds = 3.0;        // of playing before a figure, silence not counted
    static constexpr double kSilentBelowDb = -60;  // RMS over a piece, of the mid or the DI
    static constexpr std::size_t kPiece = 1024;    // frames judged for silence at once
    static constexpr double kUpdateSeconds = 0.5;  // of playing between figures
    static constexpr double kStopSeconds = 2.0;    // of silence that ends it, once it has a figure
    static constexpr int kSettling = 6;            // the figures whose spread says how settled

    enum class State { Idle, Measuring, Found, Refused };

    void start(MeasureFeed& feed);
    void cancel(MeasureFeed& feed);
    // MEASURE pressed again: with a figure, the answer over all heard; before one, nothing.
    void stop(MeasureFeed& feed);
    // Takes what the feed has; answers whether anything shown changed.
    bool pump(MeasureFeed& feed);

    State state() const { return state_; }
    // A figure to show and to apply: the answer, or the latest while it measures.
    bool hasFigure() const { return state_ == State::Found || (state_ == State::Measuring && figures_ > 0); }
    bool canApply() const { return hasFigure() && mid().reliable(); }
    double secondsHeard() const { return static_cast<double>(heard_) / rate_; }
    double sampleRate() const { return rate_; }
    // The spread of the last figures, in samples (0 until there are two).
    double settledWithin() const;
    // Against the mid microphone, then the side: the latest figure, or the answer.
    const align::DiEstimate& mid() const { return estimates_[0]; }
    const align::DiEstimate& side() const { return estimates_[1]; }
    // The delay in milliseconds and whether the DI is turned over, as measured.
    double delayMs() const { return mid().delaySamples * 1000.0 / rate_; }
    bool inverted() const { return mid().inverted(); }
    // The DI's tone match learned with the figure, and where the DI through `amount` (0 to 1) of
    // it lies against the mid microphone: what APPLY sets, for the low end to add in phase.
    const align::ToneCurve& curve() const { return curve_; }
    align::DiEstimate matchedMid(double amount) const;

    // The result in words: a sentence of the answer or the refusal, and one more line.
    std::string headline() const;
    std::string detail() const;

private:
    void finish();
    void learnTone();
    void refuse(int why);
    bool judge(const float* piece);  // counted, silent, or refused
    std::string figureWords() const;

    State state_ = State::Idle;
    double rate_ = 48000;
    std::size_t heard_ = 0, nextFigure_ = 0, silentFor_ = 0, midOnly_ = 0, diOnly_ = 0;
    int figures_ = 0, refusal_ = 0;  // refusal_: 1 the DI silent, 2 the mid silent
    std::vector<double> history_;    // the last figures' delays
    // Kept after the answer, for the matched DI's place at any amount.
    std::unique_ptr<align::DiCorrelator> correlator_;
    align::ToneCurve curve_;
    align::DiEstimate matchedFull_;  // through the whole curve
    std::vector<float> piece_;  // interleaved, filling up to kPiece frames
    std::vector<align::DiEstimate> estimates_ = std::vector<align::DiEstimate>(2);
};

}  // namespace editor
