#include "effect/level_gain.h"

#include <array>
#include <cmath>
#include <cstring>

#include "effect/decibels.h"
#include "effect/decoder_parameters.h"

namespace vintrel {
namespace {

// The grid in tenths of a decibel, from the lowest level any row allows to the highest.
constexpr int kTenthsPerDecibel = 10;
constexpr int lowestTenth() {
    double lowest = 0;
    for (const decoder::Parameter& p : decoder::kParameters)
        if (p.kind == decoder::Kind::Level && p.min < lowest) lowest = p.min;
    return static_cast<int>(lowest) * kTenthsPerDecibel;
}
constexpr int highestTenth() {
    double highest = 0;
    for (const decoder::Parameter& p : decoder::kParameters)
        if (p.kind == decoder::Kind::Level && p.max > highest) highest = p.max;
    return static_cast<int>(highest) * kTenthsPerDecibel;
}
constexpr bool everyLevelOnTheGrid() {
    for (const decoder::Parameter& p : decoder::kParameters)
        if (p.kind == decoder::Kind::Level && p.step != 1.0 / kTenthsPerDecibel) return false;
    return true;
}
static_assert(everyLevelOnTheGrid(), "the table holds the 0.1 dB grid that every level row quantises to");

constexpr int kLowest = lowestTenth(), kCount = highestTenth() - lowestTenth() + 1;

// A host's value quantised to the grid is n * 0.1 for a whole n: the table holds the gains of
// exactly those doubles.
const std::array<double, kCount> kGridGains = [] {
    std::array<double, kCount> gains{};
    for (int i = 0; i < kCount; ++i) gains[static_cast<std::size_t>(i)] = decibelsToGain((kLowest + i) * 0.1);
    return gains;
}();

std::uint64_t bitsOf(double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
}

double fromBits(std::uint64_t bits) {
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

}  // namespace

bool gridGain(double level, double& gain) {
    const double tenths = std::floor(level * kTenthsPerDecibel + 0.5);
    if (!(tenths >= kLowest && tenths < kLowest + kCount) || tenths * 0.1 != level) return false;
    gain = kGridGains[static_cast<std::size_t>(static_cast<int>(tenths) - kLowest)];
    return true;
}

double LevelGain::of(double level) {
    const std::uint64_t wanted = bitsOf(level);
    std::uint32_t version = version_.load(std::memory_order_acquire);
    if ((version & 1) == 0) {
        const std::uint64_t remembered = level_.load(std::memory_order_relaxed);
        const std::uint64_t rememberedGain = gain_.load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        if (version_.load(std::memory_order_relaxed) == version && remembered == wanted) return fromBits(rememberedGain);
    }
    double gain;
    if (!gridGain(level, gain)) gain = decibelsToGain(level);
    if ((version & 1) == 0 &&
        version_.compare_exchange_strong(version, version + 1, std::memory_order_acquire, std::memory_order_relaxed)) {
        std::atomic_thread_fence(std::memory_order_release);
        level_.store(wanted, std::memory_order_relaxed);
        gain_.store(bitsOf(gain), std::memory_order_relaxed);
        version_.store(version + 2, std::memory_order_release);
    }
    return gain;
}

}  // namespace vintrel
