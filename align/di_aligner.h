// The DI moved into place before decoding: a stage of three channels (mid, side, DI) in and
// out. A delay >= 0 delays the DI and adds no latency. A delay < 0 moves the DI earlier, which
// no stage can do without looking ahead: it delays the microphones instead and reports that
// as latency, so that once the host has made up for it the DI sits earlier by the delay.
// A change of setting crossfades from the old alignment to the new one.
//
// While it does nothing (no delay, normal polarity) it keeps nothing either, so that it costs
// nothing: a change away from that waits until the stage has heard the past the new setting
// reaches back to (the delay and its kernel: at most about 10 ms), then crossfades. Every other
// change starts at its own sample.
//
// Whole samples move the samples themselves (a delay within 0.02 samples of a whole number
// counts as whole). A fraction goes through the windowed sinc of `sinc.h`, centred on the
// point it reads, which needs samples up to half the kernel after that point: a delay of 31
// samples and more has the whole 64-tap kernel (within -90 dB of full scale up to 0.45 of the
// rate); a shorter delay has the longest kernel that reaches no sample after the newest, 2 *
// (whole part + 1) taps (the tests state what each reaches). Negative fractional delays take
// 31 samples of latency more than the whole samples they need, so they always have the whole
// kernel.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "align/sinc.h"

namespace align {

// Chooses the kernels (the fractional delay's, the tone filter's) of a register width: 2 (every processor), 4 (x86 with
// AVX2) or 8 (x86 with AVX-512); false, and no change, where this processor lacks it. Every
// width gives the same bits; the module chooses the widest at load.
bool useAlignmentKernels(int width);

// The one conversion from the plug-ins' milliseconds to samples, so that every format and the
// renderer move by the same amount.
inline double samplesOf(double milliseconds, double sampleRate) { return milliseconds * sampleRate / 1000.0; }

// One channel's delay made ready: whole samples, and taps for a fraction.
struct ChannelDelay {
    static constexpr double kWholeTolerance = 0.02;

    std::int64_t whole = 0;
    bool fractional = false;
    bool invert = false;
    FractionTaps taps;

    // A delay of `samples` >= 0 that looks at no sample after the newest.
    static ChannelDelay of(double samples, bool invert);
    // How many samples before the newest it reads, at the most.
    std::int64_t reach() const { return whole + (fractional ? taps.half : 0); }
};

// A setting made ready for three channels.
struct AlignmentPlan {
    double delaySamples = 0;
    bool invert = false;
    std::int32_t latency = 0;  // what the microphones are delayed by
    ChannelDelay microphones, di;

    static AlignmentPlan of(double delaySamples, bool invert);
    // The latency `of` would give, without making the taps (cheap enough for every block).
    static std::int32_t latencyOf(double delaySamples);
    bool identity() const { return latency == 0 && di.whole == 0 && !di.fractional && !di.invert; }
    std::int64_t reach() const { return std::max(microphones.reach(), di.reach()); }
};

class DiAligner {
public:
    static constexpr int kChannels = 3;  // mid, side, DI
    static constexpr int kDi = 2;
    static constexpr double kCrossfadeSeconds = 0.005;
    static constexpr double kLongestDelayMilliseconds = 10.0;

    // Makes room for delays up to `longestMs` either way at this rate and forgets the past
    // (not in real time).
    void prepare(double sampleRate, double longestMs = kLongestDelayMilliseconds);
    // Forgets the past: silence before the next sample.
    void reset();
    // A setting taken at once, without a crossfade: when nothing plays (a new rate, a start).
    void jumpTo(double delaySamples, bool invert);

    // The setting from the next sample on; a change crossfades from what is set, after any
    // crossfade under way. No allocation: it may be called on the audio thread.
    void set(double delaySamples, bool invert);
    // What the newest setting reports to the host.
    std::int32_t latency() const { return (hasPending_ ? pending_ : fading_ ? target_ : current_).latency; }
    // Nothing to do: the inputs are the aligned channels; `skip` is all it needs to hear of them.
    bool passThrough() const { return current_.identity() && !fading_ && !hasPending_; }
    // While passing through: `frames` went by unkept.
    void skip(std::int32_t frames) { heard_ = 0, (void)frames; }
    // The aligned channels of `frames` inputs; `outputs` must not be the inputs. With `delayed`,
    // also the inputs as they came, delayed by the latency reported (a bypass in time).
    template <class Sample>
    void process(const Sample* const* inputs, Sample* const* outputs, std::int32_t frames,
                 Sample* const* delayed = nullptr);

private:
    template <class Sample>
    void append(const Sample* const* inputs, std::int32_t frames);
    template <class Stored, class Out>
    void aligned(const AlignmentPlan& plan, int channel, std::int32_t frames, Out* out) const;
    // The past in the samples' own type: a block's copy is a plain copy. A block of the other
    // precision first takes over what is kept (hosts seldom switch; the values are the same).
    template <class Sample>
    std::vector<Sample>& pastOf(int channel) {
        if constexpr (sizeof(Sample) == sizeof(float))
            return pastFloat_[channel];
        else
            return pastDouble_[channel];
    }
    template <class Sample>
    const std::vector<Sample>& pastOf(int channel) const {
        return const_cast<DiAligner*>(this)->pastOf<Sample>(channel);
    }
    template <class Sample>
    void keepIn();
    void beginFade(const AlignmentPlan& to);
    // The next setting, crossfaded to once the past it reaches back to has been heard.
    void follow(const AlignmentPlan& plan);

    double sampleRate_ = 48000;
    std::int64_t keep_ = 0;    // samples of the past the longest delay needs
    std::int64_t newest_ = 0;  // where the next input sample goes in the past
    std::int64_t heard_ = 0;   // of the samples before it, how many are kept (counted up to keep_)
    std::vector<float> pastFloat_[kChannels];
    std::vector<double> pastDouble_[kChannels];
    bool keptInDouble_ = false;
    std::int32_t fadeLength_ = 240, faded_ = 0;
    bool fading_ = false, hasPending_ = false;
    AlignmentPlan current_, target_, pending_;
    std::vector<double> from_, to_;  // the two alignments of a chunk while fading
    // A chunk's sums of taps, and a float past widened for them.
    mutable std::vector<double> summed_, widened_;
};

}  // namespace align
