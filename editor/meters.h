// Levels of the three inputs and three outputs and the scope's points, from the audio thread to
// the editor without a lock or an allocation: the audio thread adds each block's peaks and
// sums into atomics and its points into a ring; the editor takes them at its own pace and
// turns them into what it shows (peak hold, RMS, overload marks).
#pragma once

#include <array>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

#include "editor/scope.h"

namespace editor {

constexpr int kMeteredChannels = 6;  // inputs mid, side, DI, then outputs 1, 2, 3

// What the editor shows of one channel.
struct ChannelLevels {
    double peakDb = -INFINITY, rmsDb = -INFINITY, holdDb = -INFINITY;
    bool over = false;  // a sample past 0 dBFS since the mark was last reset
};

struct MeterSnapshot {
    std::array<ChannelLevels, kMeteredChannels> channels{};
};

class MeterFeed {
public:
    // Whether anyone looks: processing measures nothing while no editor is open.
    void setActive(bool active) { active_.store(active, std::memory_order_relaxed); }
    bool active() const { return active_.load(std::memory_order_relaxed); }

    // The audio thread, after (or, for inputs, before) each block: the block's channels from
    // `first` on, every sample. The scope takes every `kStride`th frame.
    template <class Sample>
    void measure(int first, const Sample* const* channels, int count, std::int32_t frames);
    template <class Sample>
    void pushPoints(const Sample* left, const Sample* right, std::int32_t frames);

    // The audio thread's whole block: the three inputs before decoding (an in-place block
    // overwrites them), the three outputs and the pair's points after.
    template <class Sample>
    void beforeBlock(const Sample* const* inputs, std::int32_t frames) {
        if (active()) measure(0, inputs, 3, frames);
    }
    template <class Sample>
    void afterBlock(const Sample* const* outputs, std::int32_t frames) {
        if (!active()) return;
        measure(3, outputs, 3, frames);
        pushPoints(outputs[0], outputs[1], frames);
    }

    // The editor: what arrived since its last call.
    struct Taken {
        std::array<float, kMeteredChannels> peak{};
        std::array<double, kMeteredChannels> sumSquares{};
        std::array<std::uint32_t, kMeteredChannels> counted{};
    };
    Taken take();
    // The scope's points since the last call, into `data`; answers how many came.
    std::size_t takePoints(ScopeData& data);

    static constexpr int kStride = 4;
    static constexpr std::size_t kRing = 8192;  // points; more in one editor frame are dropped

private:
    std::atomic<bool> active_{false};
    std::array<std::atomic<float>, kMeteredChannels> peak_{};
    std::array<std::atomic<double>, kMeteredChannels> sumSquares_{};
    std::array<std::atomic<std::uint32_t>, kMeteredChannels> counted_{};
    std::array<float, kRing * 2> ring_{};
    std::atomic<std::size_t> written_{0}, read_{0};
};

// Peak hold, RMS and overload marks as the editor shows them, from what the feed gives.
class MeterBallistics {
public:
    // `seconds` since the last update; answers whether what it shows changed.
    bool update(const MeterFeed::Taken& taken, double seconds);
    void resetMarks();
    const MeterSnapshot& snapshot() const { return shown_; }

private:
    MeterSnapshot shown_;
    std::array<double, kMeteredChannels> holdAge_{};
};

// A block's peak (largest magnitude) and sum of squares of one channel, in 16-byte vector
// registers (SSE2 and NEON have them everywhere), two chains at a time: magnitudes by a bit
// mask, the larger of two by a comparison (a NaN is never larger).
template <class Sample>
void peakAndSquares(const Sample* x, std::int32_t frames, double& peak, double& squares) {
    using Bits = std::conditional_t<sizeof(Sample) == 4, std::int32_t, std::int64_t>;
    constexpr int kLanes = 16 / sizeof(Sample);
    typedef Sample Lanes __attribute__((vector_size(16)));
    typedef Bits Masks __attribute__((vector_size(16)));
    const Masks magnitude = Masks{} + std::numeric_limits<Bits>::max();  // every bit but the sign
    auto load = [&](std::int32_t at) {
        Masks bits;
        std::memcpy(&bits, x + at, sizeof bits);
        bits &= magnitude;
        Lanes v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    };
    Lanes top0{}, top1{}, sum0{}, sum1{};
    std::int32_t j = 0;
    for (; j + 2 * kLanes <= frames; j += 2 * kLanes) {
        const Lanes a = load(j), b = load(j + kLanes);
        top0 = a > top0 ? a : top0;
        top1 = b > top1 ? b : top1;
        sum0 += a * a;
        sum1 += b * b;
    }
    Sample p = 0, s = 0;
    for (int l = 0; l < kLanes; ++l) {
        p = top0[l] > p ? top0[l] : p;
        p = top1[l] > p ? top1[l] : p;
        s += sum0[l] + sum1[l];
    }
    for (; j < frames; ++j) {
        const Sample v = x[j] < 0 ? -x[j] : x[j];
        p = v > p ? v : p, s += v * v;
    }
    peak = static_cast<double>(p), squares = static_cast<double>(s);
}

template <class Sample>
void MeterFeed::measure(int first, const Sample* const* channels, int count, std::int32_t frames) {
    for (int k = 0; k < count && first + k < kMeteredChannels; ++k) {
        double peak = 0, squares = 0;
        peakAndSquares(channels[k], frames, peak, squares);
        std::atomic<float>& p = peak_[static_cast<std::size_t>(first + k)];
        const auto block = static_cast<float>(peak);
        for (float old = p.load(std::memory_order_relaxed); block > old && !p.compare_exchange_weak(old, block);) {
        }
        std::atomic<double>& s = sumSquares_[static_cast<std::size_t>(first + k)];
        for (double old = s.load(std::memory_order_relaxed); !s.compare_exchange_weak(old, old + squares);) {
        }
        counted_[static_cast<std::size_t>(first + k)].fetch_add(static_cast<std::uint32_t>(frames), std::memory_order_relaxed);
    }
}

template <class Sample>
void MeterFeed::pushPoints(const Sample* left, const Sample* right, std::int32_t frames) {
    std::size_t written = written_.load(std::memory_order_relaxed);
    const std::size_t read = read_.load(std::memory_order_acquire);
    for (std::int32_t j = 0; j < frames && written - read < kRing; j += kStride, ++written) {
        const std::size_t at = (written % kRing) * 2;
        ring_[at] = static_cast<float>(left[j]), ring_[at + 1] = static_cast<float>(right[j]);
    }
    written_.store(written, std::memory_order_release);
}

}  // namespace editor
