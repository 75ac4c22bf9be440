// Decibel levels to gains as the decoder recomputes them on every parameter change, fast and
// with exactly decibelsToGain's bits: the level this slot converted last gives its gain again
// (most changes are of another parameter), a level on the parameters' 0.1 dB grid (every value
// a host sets) comes from a table made once when the module loads, and any other (a value
// loaded from a state) is converted.
#pragma once

#include <atomic>
#include <cstdint>

namespace vintrel {

// The gain of a level on the 0.1 dB grid of the levels' ranges; false for any other value.
bool gridGain(double level, double& gain);

class LevelGain {
public:
    LevelGain() = default;
    // What a memo remembers holds for any slot: a copy may start with nothing, or keep its own.
    LevelGain(const LevelGain&) {}
    LevelGain& operator=(const LevelGain&) { return *this; }

    double of(double level);

private:
    // A memo two threads may use at once (a state arriving while the audio thread applies a
    // change): version is odd while a writer stores, a reader that meets a store in progress
    // converts afresh, and a writer that meets another writer leaves the memo alone.
    std::atomic<std::uint32_t> version_{0};
    std::atomic<std::uint64_t> level_{0x7ff8dead00000000u}, gain_{0};  // a NaN no level arrives as
};

}  // namespace vintrel
