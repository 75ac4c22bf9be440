#include "align/di_aligner.h"

#include "align/fraction_kernel.h"
#include "align/tone_wave.h"

#include <algorithm>
#include <cmath>

namespace align {

namespace {

// Samples the stage takes at once; the past is kept in front of them in one run of memory.
constexpr std::int32_t kChunk = 256;

SumTaps sumTapsNow = sumTaps128;

// The widest kernel this processor runs, chosen once when the module loads, so processing
// never waits on a first-use guard.
const bool kernelChosen = [] {
    for (int width : {8, 4})
        if (useAlignmentKernels(width)) break;
    return true;
}();
// Room for this many chunks before the past slides to the front again.
constexpr std::int64_t kChunksBeforeSliding = 16;

}  // namespace

ChannelDelay ChannelDelay::of(double samples, bool invert) {
    ChannelDelay d;
    d.invert = invert;
    const double nearest = std::round(samples);
    if (std::abs(samples - nearest) <= kWholeTolerance) {
        d.whole = static_cast<std::int64_t>(nearest);
        return d;
    }
    d.fractional = true;
    d.whole = static_cast<std::int64_t>(std::floor(samples));
    // Taps from 1 - half to half around the whole part: the newest is whole + 1 - half back.
    const int half = static_cast<int>(std::min<std::int64_t>(kSincHalfLength, d.whole + 1));
    d.taps = fractionTaps(samples - std::floor(samples), half);
    return d;
}

std::int32_t AlignmentPlan::latencyOf(double delaySamples) {
    if (delaySamples >= 0 || std::abs(delaySamples - std::round(delaySamples)) <= ChannelDelay::kWholeTolerance)
        return static_cast<std::int32_t>(std::max(0.0, -std::round(delaySamples)));
    // The fraction with the whole kernel behind it.
    return static_cast<std::int32_t>(std::ceil(-delaySamples)) + kSincHalfLength - 1;
}

AlignmentPlan AlignmentPlan::of(double delaySamples, bool invert) {
    AlignmentPlan p;
    p.delaySamples = delaySamples;
    p.invert = invert;
    p.latency = latencyOf(delaySamples);
    p.microphones = ChannelDelay::of(p.latency, false);
    p.di = ChannelDelay::of(p.latency + delaySamples, invert);
    return p;
}

void DiAligner::prepare(double sampleRate, double longestMs) {
    sampleRate_ = sampleRate > 0 ? sampleRate : 48000;
    // The longest delay either way, its whole kernel, and the latency's own kernel margin.
    keep_ = static_cast<std::int64_t>(std::ceil(samplesOf(std::abs(longestMs), sampleRate_))) +
            3 * kSincHalfLength + 2;
    const auto capacity = static_cast<std::size_t>(keep_ + kChunksBeforeSliding * kChunk);
    for (int c = 0; c < kChannels; ++c) pastFloat_[c].assign(capacity, 0.0f), pastDouble_[c].assign(capacity, 0.0);
    from_.assign(kChunk, 0.0);
    to_.assign(kChunk, 0.0);
    summed_.assign(kChunk, 0.0);
    widened_.assign(kChunk + kSincTaps, 0.0);
    fadeLength_ = std::max<std::int32_t>(1, static_cast<std::int32_t>(std::lround(sampleRate_ * kCrossfadeSeconds)));
    current_ = AlignmentPlan::of(current_.delaySamples, current_.invert);
    fading_ = hasPending_ = false;
    reset();
}

void DiAligner::reset() {
    for (int c = 0; c < kChannels; ++c) {
        std::fill(pastFloat_[c].begin(), pastFloat_[c].end(), 0.0f);
        std::fill(pastDouble_[c].begin(), pastDouble_[c].end(), 0.0);
    }
    newest_ = keep_;
    heard_ = keep_;  // silence is the past, and it is kept
    if (fading_) current_ = target_;
    if (hasPending_) current_ = pending_;
    fading_ = hasPending_ = false;
}

void DiAligner::jumpTo(double delaySamples, bool invert) {
    current_ = AlignmentPlan::of(delaySamples, invert);
    fading_ = hasPending_ = false;
}

void DiAligner::set(double delaySamples, bool invert) {
    const AlignmentPlan& newest = hasPending_ ? pending_ : fading_ ? target_ : current_;
    if (newest.delaySamples == delaySamples && newest.invert == invert) return;
    follow(AlignmentPlan::of(delaySamples, invert));
}

void DiAligner::follow(const AlignmentPlan& plan) {
    // After the crossfade under way, so that each one stays between two alignments; and once
    // the past the new setting reads has been heard.
    if (fading_ || plan.reach() > heard_) {
        pending_ = plan;
        hasPending_ = true;
    } else {
        hasPending_ = false;
        beginFade(plan);
    }
}

void DiAligner::beginFade(const AlignmentPlan& to) {
    target_ = to;
    fading_ = true;
    faded_ = 0;
}

template <class Sample>
void DiAligner::keepIn() {
    const bool inDouble = sizeof(Sample) == sizeof(double);
    if (inDouble == keptInDouble_) return;
    for (int c = 0; c < kChannels; ++c)
        for (std::int64_t i = newest_ - keep_; i < newest_; ++i) {
            const auto at = static_cast<std::size_t>(i);
            if (inDouble)
                pastDouble_[c][at] = pastFloat_[c][at];
            else
                pastFloat_[c][at] = static_cast<float>(pastDouble_[c][at]);  // float samples, kept as doubles
        }
    keptInDouble_ = inDouble;
}

template <class Sample>
void DiAligner::append(const Sample* const* inputs, std::int32_t frames) {
    keepIn<Sample>();
    const auto capacity = static_cast<std::int64_t>(pastOf<Sample>(0).size());
    if (newest_ + frames > capacity) {
        for (int c = 0; c < kChannels; ++c) {
            auto& channel = pastOf<Sample>(c);
            std::copy(channel.begin() + (newest_ - keep_), channel.begin() + newest_, channel.begin());
        }
        newest_ = keep_;
    }
    for (int c = 0; c < kChannels; ++c) std::copy(inputs[c], inputs[c] + frames, pastOf<Sample>(c).data() + newest_);
    newest_ += frames;
    heard_ = std::min(keep_, heard_ + frames);
}

// One channel of the last `frames` samples appended, aligned by `plan`.
template <class Stored, class Out>
void DiAligner::aligned(const AlignmentPlan& plan, int channel, std::int32_t frames, Out* out) const {
    const ChannelDelay& d = channel == kDi ? plan.di : plan.microphones;
    const Stored* x = pastOf<Stored>(channel).data() + (newest_ - frames) - d.whole;  // x[j]: frame j moved whole
    // Turned over as 0 - x: every sample negated exactly, and silence stays +0, as it was read.
    const bool invert = d.invert;
    if (!d.fractional) {
        if (!invert)
            std::copy(x, x + frames, out);
        else
            for (std::int32_t j = 0; j < frames; ++j) out[j] = static_cast<Out>(Stored(0) - x[j]);
        return;
    }
    // The taps' sum in doubles: a float past is widened once, here, rather than at every tap.
    const int first = d.taps.firstTap(), count = d.taps.count();
    const double* wide = nullptr;
    if constexpr (sizeof(Stored) == sizeof(double)) {
        wide = x;
    } else {
        const std::int32_t before = count - 1 + first, span = frames + count - 1;
        for (std::int32_t i = 0; i < span; ++i) widened_[static_cast<std::size_t>(i)] = x[i - before];
        wide = widened_.data() + before;
    }
    sumTapsNow(wide, frames, d.taps.taps.data(), first, count, summed_.data());
    for (std::int32_t j = 0; j < frames; ++j) {
        const double y = summed_[static_cast<std::size_t>(j)];
        out[j] = static_cast<Out>(invert ? 0.0 - y : y);
    }
}

template <class Sample>
void DiAligner::process(const Sample* const* inputs, Sample* const* outputs, std::int32_t frames,
                        Sample* const* delayed) {
    for (std::int32_t done = 0; done < frames;) {
        // A setting that waits for its past begins at the sample where it has been heard; a
        // crossfade ends inside a chunk at most once: the chunk stops there.
        if (!fading_ && hasPending_ && pending_.reach() <= heard_) follow(pending_);
        std::int32_t n = std::min(kChunk, frames - done);
        if (fading_) n = std::min(n, fadeLength_ - faded_);
        if (!fading_ && hasPending_) n = static_cast<std::int32_t>(std::min<std::int64_t>(n, pending_.reach() - heard_));
        const Sample* in[kChannels] = {inputs[0] + done, inputs[1] + done, inputs[2] + done};
        append(in, n);
        // The latency is at most the longest delay, whose past is kept; what was not heard
        // since the stage last passed its inputs through is silence.
        const std::int64_t latency = this->latency(), unheard = newest_ - heard_;
        for (int c = 0; c < kChannels && delayed != nullptr; ++c) {
            const Sample* past = pastOf<Sample>(c).data();
            for (std::int32_t j = 0; j < n; ++j) {
                const std::int64_t at = newest_ - n + j - latency;
                delayed[c][done + j] = at >= unheard ? past[at] : Sample(0);
            }
        }
        for (int c = 0; c < kChannels; ++c) {
            Sample* out = outputs[c] + done;
            if (!fading_) {
                aligned<Sample>(current_, c, n, out);
                continue;
            }
            aligned<Sample>(current_, c, n, from_.data());
            aligned<Sample>(target_, c, n, to_.data());
            // Between the two at every sample: a + g (b - a) with g rising to 1, held between
            // them where rounding would step past either.
            for (std::int32_t j = 0; j < n; ++j) {
                const double g = static_cast<double>(faded_ + j + 1) / fadeLength_;
                const double a = from_[static_cast<std::size_t>(j)], b = to_[static_cast<std::size_t>(j)];
                out[j] = static_cast<Sample>(std::clamp(a + g * (b - a), std::min(a, b), std::max(a, b)));
            }
        }
        if (fading_ && (faded_ += n) >= fadeLength_) {
            current_ = target_;
            fading_ = false;
            if (hasPending_) follow(pending_);
        }
        done += n;
    }
}

template void DiAligner::process(const float* const*, float* const*, std::int32_t, float* const*);
template void DiAligner::process(const double* const*, double* const*, std::int32_t, double* const*);

bool useAlignmentKernels(int width) {
    if (width == 2) {
        sumTapsNow = sumTaps128, toneStepsNow = toneSteps128;
        return true;
    }
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    if (width == 8 && __builtin_cpu_supports("avx512f")) {
        sumTapsNow = sumTapsAvx512, toneStepsNow = toneStepsAvx512;
        return true;
    }
    if (width == 4 && __builtin_cpu_supports("avx2")) {
        sumTapsNow = sumTapsAvx2, toneStepsNow = toneStepsAvx2;
        return true;
    }
#endif
    return false;
}

}  // namespace align
