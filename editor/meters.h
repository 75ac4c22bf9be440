// Levels of the three inputs and three outputs and the scope's points, from the audio thread to
// the editor without a lock or an allocation: the audio thread measures each block into a
// record of its own and publishes it through a single-producer ring (or, while the ring is
// full, adds the next block to it), its points through another; the editor takes them at its
// own pace and turns them into what it shows (peak hold, RMS, overload marks).
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "editor/meter_kernels.h"
#include "editor/di_measurement.h"
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

// A block's largest square and sum of squares of each of three channels, the same bits on every
// processor (the widest registers it has, in one order of additions).
void blockSquares(const float* const* x, std::int32_t frames, float* largest, float* sum);
void blockSquares(const double* const* x, std::int32_t frames, double* largest, double* sum);
// Every kPointStride-th frame of the pair, from the first, as `points` (left, right) pairs.
void copyPoints(const float* left, const float* right, std::size_t points, float* to);
void copyPoints(const double* left, const double* right, std::size_t points, float* to);

class MeterFeed {
public:
    // Whether anyone looks: processing measures nothing while no editor is open.
    void setActive(bool active) { active_.store(active, std::memory_order_relaxed); }
    bool active() const { return active_.load(std::memory_order_relaxed); }

    // The audio thread (one at a time, as hosts call processing), after (or, for inputs,
    // before) each block: the block's three inputs (`first` 0) or outputs (3), every sample.
    // The scope takes every `kStride`th frame.
    template <class Sample>
    void measure(int first, const Sample* const* channels, std::int32_t frames);
    template <class Sample>
    void pushPoints(const Sample* left, const Sample* right, std::int32_t frames);

    // The audio thread's whole block: the three inputs before decoding (an in-place block
    // overwrites them), the three outputs and the pair's points after.
    template <class Sample>
    void beforeBlock(const Sample* const* inputs, std::int32_t frames) {
        if (!active()) return;
        measure(0, inputs, frames);
        diInputs.copy(inputs, frames);
    }
    template <class Sample>
    void afterBlock(const Sample* const* outputs, std::int32_t frames) {
        if (!active()) return;
        measure(3, outputs, frames);
        pushPoints(outputs[0], outputs[1], frames);
    }

    // The editor: what arrived since its last call.
    struct Taken {
        std::array<float, kMeteredChannels> peak{};
        std::array<double, kMeteredChannels> sumSquares{};
        std::array<std::uint32_t, kMeteredChannels> counted{};
    };
    Taken take();
    // The scope's points since the last call, into `data`; answers how many of them show (a
    // silent point draws nothing, and a host's silence must not redraw the editor).
    std::size_t takePoints(ScopeData& data);

    // The inputs for the DI's measurement, copied only while one asks for them.
    MeasureFeed diInputs;

    static constexpr int kStride = kPointStride;
    static constexpr std::size_t kRing = 8192;   // points; more in one editor frame are dropped
    static constexpr std::size_t kRecords = 64;  // measurements; more wait, added together

private:
    void publish();

    std::atomic<bool> active_{false};
    Taken pending_{};  // the audio thread's: measured, not yet published
    std::array<Taken, kRecords> records_{};
    std::atomic<std::size_t> published_{0}, takenRecords_{0};
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

template <class Sample>
void MeterFeed::measure(int first, const Sample* const* channels, std::int32_t frames) {
    if (frames <= 0 || first < 0 || first + 3 > kMeteredChannels) return;
    Sample largest[3], sum[3];
    blockSquares(channels, frames, largest, sum);
    for (std::size_t k = 0; k < 3; ++k) {
        const std::size_t c = static_cast<std::size_t>(first) + k;
        const auto peak = static_cast<float>(std::sqrt(static_cast<double>(largest[k])));
        if (peak > pending_.peak[c]) pending_.peak[c] = peak;
        pending_.sumSquares[c] += static_cast<double>(sum[k]);
        pending_.counted[c] += static_cast<std::uint32_t>(frames);
    }
    publish();
}

template <class Sample>
void MeterFeed::pushPoints(const Sample* left, const Sample* right, std::int32_t frames) {
    if (frames <= 0) return;
    const std::size_t written = written_.load(std::memory_order_relaxed);
    const std::size_t room = kRing - (written - read_.load(std::memory_order_acquire));
    const std::size_t points = std::min(room, static_cast<std::size_t>(frames + kStride - 1) / kStride);
    // In at most two runs, each up to the ring's end, so that the copy is a plain loop.
    for (std::size_t done = 0; done < points;) {
        const std::size_t at = (written + done) % kRing, run = std::min(points - done, kRing - at);
        copyPoints(left + done * kStride, right + done * kStride, run, ring_.data() + at * 2);
        done += run;
    }
    written_.store(written + points, std::memory_order_release);
}

}  // namespace editor
