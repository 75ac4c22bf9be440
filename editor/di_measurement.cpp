#include "editor/di_measurement.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace editor {

namespace {

std::string format(const char* pattern, double a, double b = 0, double c = 0) {
    char text[160];
    std::snprintf(text, sizeof text, pattern, a, b, c);
    return text;
}

double rms(const float* interleaved, std::size_t frames, int channel) {
    double sum = 0.0;
    for (std::size_t j = 0; j < frames; ++j) {
        const double x = interleaved[3 * j + static_cast<std::size_t>(channel)];
        sum += x * x;
    }
    return std::sqrt(sum / static_cast<double>(frames));
}

}  // namespace

void MeasureFeed::arm() {
    if (!ring_) ring_ = std::make_unique<float[]>(3 * kCapacity);
    read_.store(write_.load(std::memory_order_acquire), std::memory_order_release);  // nothing old
    gap_.store(false, std::memory_order_relaxed);
    armed_.store(true, std::memory_order_release);
}

std::size_t MeasureFeed::take(float* interleaved, std::size_t frames, bool& gap) {
    gap = gap_.exchange(false, std::memory_order_relaxed);
    if (!ring_) return 0;
    const std::size_t read = read_.load(std::memory_order_relaxed);
    const std::size_t n = std::min(frames, write_.load(std::memory_order_acquire) - read);
    for (std::size_t j = 0; j < n; ++j)
        for (std::size_t c = 0; c < 3; ++c) interleaved[3 * j + c] = ring_[c * kCapacity + ((read + j) & (kCapacity - 1))];
    read_.store(read + n, std::memory_order_release);
    return n;
}

void DiMeasurement::start(MeasureFeed& feed) {
    rate_ = feed.sampleRate() > 0 ? feed.sampleRate() : 48000;
    correlator_ = std::make_unique<align::DiCorrelator>(rate_, 2);
    piece_.clear();
    history_.clear();
    heard_ = silentFor_ = midOnly_ = diOnly_ = 0;
    nextFigure_ = static_cast<std::size_t>(kSeconds * rate_);
    figures_ = refusal_ = 0;
    estimates_.assign(2, align::DiEstimate{});
    curve_ = {}, matchedFull_ = {};
    state_ = State::Measuring;
    feed.arm();
}

void DiMeasurement::cancel(MeasureFeed& feed) {
    feed.disarm();
    correlator_.reset();
    state_ = State::Idle;
}

void DiMeasurement::stop(MeasureFeed& feed) {
    if (state_ != State::Measuring) return;
    if (figures_ == 0) return cancel(feed);
    feed.disarm();
    finish();
}

// Only pieces where both the mid microphone and the DI carry signal count; one that plays
// while the other stays silent for as long as a figure needs is refused, in words.
bool DiMeasurement::judge(const float* piece) {
    const double floor = std::pow(10.0, kSilentBelowDb / 20.0);
    const bool mid = rms(piece, kPiece, 0) >= floor, di = rms(piece, kPiece, 2) >= floor;
    const auto needed = static_cast<std::size_t>(kSeconds * rate_);
    midOnly_ += mid && !di ? kPiece : 0;
    diOnly_ += di && !mid ? kPiece : 0;
    silentFor_ = mid || di ? 0 : silentFor_ + kPiece;
    if (heard_ == 0 && (midOnly_ >= needed || diOnly_ >= needed)) {
        refuse(midOnly_ >= needed ? 1 : 2);
        return false;
    }
    if (!mid || !di) return false;
    const float* channels[3];
    std::vector<float> planar(3 * kPiece);
    for (std::size_t c = 0; c < 3; ++c) {
        for (std::size_t j = 0; j < kPiece; ++j) planar[c * kPiece + j] = piece[3 * j + c];
        channels[c] = planar.data() + c * kPiece;
    }
    correlator_->add(channels, kPiece);
    heard_ += kPiece;
    return true;
}

bool DiMeasurement::pump(MeasureFeed& feed) {
    if (state_ != State::Measuring) return false;
    const std::size_t before = heard_;
    bool changed = false;
    float frames[3 * 512];
    bool gap = false;
    for (std::size_t got; (got = feed.take(frames, 512, gap)) > 0 || gap;) {
        if (gap) piece_.clear();  // a piece is judged whole, never across frames left out
        piece_.insert(piece_.end(), frames, frames + 3 * got);
        if (piece_.size() < 3 * kPiece) continue;
        judge(piece_.data());
        piece_.erase(piece_.begin(), piece_.begin() + 3 * kPiece);
        if (state_ != State::Measuring) {
            feed.disarm();
            return true;
        }
        if (heard_ >= nextFigure_) {  // the figure so far, on the editor's thread
            estimates_ = correlator_->estimatesSoFar();
            learnTone();
            history_.push_back(mid().delaySamples);
            if (history_.size() > kSettling) history_.erase(history_.begin());
            ++figures_;
            nextFigure_ = heard_ + static_cast<std::size_t>(kUpdateSeconds * rate_);
            changed = true;
        }
        if (figures_ > 0 && static_cast<double>(silentFor_) >= kStopSeconds * rate_) {
            stop(feed);
            return true;
        }
    }
    // Progress is shown in tenths of a second.
    return changed || static_cast<int>(10 * secondsHeard()) != static_cast<int>(10 * static_cast<double>(before) / rate_);
}

void DiMeasurement::finish() {
    estimates_ = correlator_->finish();
    learnTone();
    state_ = mid().reliable() ? State::Found : State::Refused;
}

void DiMeasurement::learnTone() {
    curve_ = align::learnToneMatch(correlator_->spectra(0));
    matchedFull_ = curve_.flat() ? mid() : correlator_->estimatesThrough(align::matchSections(curve_, 1.0, rate_))[0];
}

align::DiEstimate DiMeasurement::matchedMid(double amount) const {
    if (curve_.flat() || !(amount > 0.0) || !correlator_) return mid();
    if (amount >= 1.0) return matchedFull_;
    return correlator_->estimatesThrough(align::matchSections(curve_, amount, rate_))[0];
}

void DiMeasurement::refuse(int why) {
    refusal_ = why;
    correlator_.reset();
    state_ = State::Refused;
}

double DiMeasurement::settledWithin() const {
    if (history_.size() < 2) return 0.0;
    const auto [low, high] = std::minmax_element(history_.begin(), history_.end());
    return *high - *low;
}

// The figure as the renderer says it: the delay both ways, the rate, the polarity.
std::string DiMeasurement::figureWords() const {
    const double samples = mid().delaySamples;
    return std::string(samples >= 0 ? "DI leads" : "DI lags") +
           format(" the mid microphone by %.2f ms (%.1f samples at %g kHz), ", std::abs(delayMs()), std::abs(samples), rate_ / 1000) +
           (inverted() ? "inverted polarity" : "same polarity") + format(", correlation %.2f", std::abs(mid().correlation));
}

std::string DiMeasurement::headline() const {
    switch (state_) {
        case State::Idle:
            return "Press MEASURE and play a few seconds of the take.";
        case State::Measuring:
            if (figures_ == 0)
                return format("Measuring: %.1f s of %.0f s of playing heard (silence is not counted)", secondsHeard(), kSeconds);
            if (!mid().reliable()) return format("Measuring: no reliable estimate yet over %.1f s of playing", secondsHeard());
            return format("%.2f samples, ", mid().delaySamples) +
                   (history_.size() < 2 ? std::string("settling")
                                        : format("settled within %.2f", settledWithin())) +
                   format(" over %.1f s of playing", secondsHeard());
        case State::Refused:
            if (refusal_ == 1) return "The DI is silent while the mid microphone plays: there is nothing to align.";
            if (refusal_ == 2) return "The mid microphone is silent while the DI plays: there is nothing to align.";
            if (mid().silent) return "The DI or the mid microphone is silent: there is nothing to align.";
            if (mid().atEdge) return "The DI is more than 10 ms away: check that the files belong together.";
            return format("No reliable estimate (correlation %.2f, below %.2f): the DI and the mid microphone share too little.",
                          std::abs(mid().correlation), align::kReliableCorrelation);
        case State::Found:
            break;
    }
    return figureWords();
}

std::string DiMeasurement::detail() const {
    switch (state_) {
        case State::Idle:
            return "The DI's delay and polarity against the microphones, as the renderer's --analyze finds them.";
        case State::Measuring:
            if (figures_ == 0 || !mid().reliable()) return "Press MEASURE again to stop.";
            return figureWords() + ". APPLY takes this figure; MEASURE again to stop.";
        case State::Refused:
            return "DI delay and DI polarity are left as they are; set them by ear, or measure another passage.";
        case State::Found:
            break;
    }
    const std::string sideWords = side().reliable()
                                 ? format("Against the side microphone: %.2f ms, correlation %.2f. ",
                                          side().delaySamples * 1000.0 / rate_, std::abs(side().correlation))
                                 : std::string("Against the side microphone: no reliable estimate. ");
    return sideWords + "APPLY sets DI delay, DI polarity and the DI's tone match.";
}

}  // namespace editor
