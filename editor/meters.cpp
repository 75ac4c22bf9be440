#include "editor/meters.h"

#include <algorithm>

#include "editor/meter_kernels.h"

namespace editor {

namespace {

void (*floatSquares)(const float* const*, std::int32_t, float*, float*) = squares128;
void (*doubleSquares)(const double* const*, std::int32_t, double*, double*) = squares128;
void (*floatPoints)(const float*, const float*, std::size_t, float*) = points128;
void (*doublePoints)(const double*, const double*, std::size_t, float*) = points128;

// The widest registers this processor has, chosen once when the module loads, so processing
// never waits on a first-use guard.
const bool kernelsChosen = [] {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f")) {
        floatSquares = squaresAvx512, doubleSquares = squaresAvx512;
        floatPoints = pointsAvx512, doublePoints = pointsAvx512;
    } else if (__builtin_cpu_supports("avx2")) {
        floatSquares = squaresAvx2, doubleSquares = squaresAvx2;
        floatPoints = pointsAvx2, doublePoints = pointsAvx2;
    }
#endif
    return true;
}();

}  // namespace

void blockSquares(const float* const* x, std::int32_t frames, float* largest, float* sum) {
    floatSquares(x, frames, largest, sum);
}

void blockSquares(const double* const* x, std::int32_t frames, double* largest, double* sum) {
    doubleSquares(x, frames, largest, sum);
}

void copyPoints(const float* left, const float* right, std::size_t points, float* to) {
    floatPoints(left, right, points, to);
}

void copyPoints(const double* left, const double* right, std::size_t points, float* to) {
    doublePoints(left, right, points, to);
}

void MeterFeed::publish() {
    const std::size_t at = published_.load(std::memory_order_relaxed);
    if (at - takenRecords_.load(std::memory_order_acquire) >= kRecords) return;  // the editor is behind
    records_[at % kRecords] = pending_;
    pending_ = Taken{};
    published_.store(at + 1, std::memory_order_release);
}

MeterFeed::Taken MeterFeed::take() {
    Taken taken;
    const std::size_t published = published_.load(std::memory_order_acquire);
    std::size_t at = takenRecords_.load(std::memory_order_relaxed);
    for (; at != published; ++at) {
        const Taken& record = records_[at % kRecords];
        for (std::size_t k = 0; k < kMeteredChannels; ++k) {
            taken.peak[k] = std::max(taken.peak[k], record.peak[k]);
            taken.sumSquares[k] += record.sumSquares[k];
            taken.counted[k] += record.counted[k];
        }
    }
    takenRecords_.store(at, std::memory_order_release);
    return taken;
}

std::size_t MeterFeed::takePoints(ScopeData& data) {
    const std::size_t written = written_.load(std::memory_order_acquire);
    std::size_t read = read_.load(std::memory_order_relaxed);
    std::size_t count = 0;
    for (; read != written; ++read) {
        const std::size_t at = (read % kRing) * 2;
        count += ring_[at] != 0.0f || ring_[at + 1] != 0.0f;
        data.add(ring_[at], ring_[at + 1]);
    }
    read_.store(read, std::memory_order_release);
    return count;
}

bool MeterBallistics::update(const MeterFeed::Taken& taken, double seconds) {
    constexpr double kFallPerSecond = 24.0, kHoldSeconds = 1.5;
    const MeterSnapshot before = shown_;
    for (std::size_t k = 0; k < kMeteredChannels; ++k) {
        ChannelLevels& c = shown_.channels[k];
        const double peak = toDb(taken.peak[k]);
        // The peak falls at a steady rate unless a louder one arrives; RMS is this interval's.
        c.peakDb = std::max(peak, std::isfinite(c.peakDb) ? c.peakDb - kFallPerSecond * seconds : -INFINITY);
        if (c.peakDb < -120.0) c.peakDb = -INFINITY;
        // With no block at all (a host that stopped processing) the RMS falls as the peak does.
        if (taken.counted[k] > 0)
            c.rmsDb = toDb(std::sqrt(taken.sumSquares[k] / taken.counted[k]));
        else if (std::isfinite(c.rmsDb))
            c.rmsDb = c.rmsDb - kFallPerSecond * seconds < -120.0 ? -INFINITY : c.rmsDb - kFallPerSecond * seconds;
        holdAge_[k] += seconds;
        if (peak >= c.holdDb || holdAge_[k] > kHoldSeconds) c.holdDb = std::max(peak, c.peakDb), holdAge_[k] = 0;
        if (taken.peak[k] > 1.0f) c.over = true;
    }
    for (std::size_t k = 0; k < kMeteredChannels; ++k) {
        const ChannelLevels &a = before.channels[k], &b = shown_.channels[k];
        auto same = [](double x, double y) { return x == y || (std::isnan(x) && std::isnan(y)); };
        if (!same(a.peakDb, b.peakDb) || !same(a.rmsDb, b.rmsDb) || !same(a.holdDb, b.holdDb) || a.over != b.over)
            return true;
    }
    return false;
}

void MeterBallistics::resetMarks() {
    for (std::size_t k = 0; k < kMeteredChannels; ++k) {
        shown_.channels[k].over = false;
        shown_.channels[k].holdDb = shown_.channels[k].peakDb;
        holdAge_[k] = 0;
    }
}

}  // namespace editor
