// Values from far outside the parameters' ranges, as a damaged or hostile state or request
// brings them, and the bound every output must keep whatever they were.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "effect/decoder_parameters.h"

inline constexpr float kFarValues[] = {1e6f, -1e6f, 3.4e38f, -3.4e38f};

// A state the plug-in saved, with one parameter's float replaced.
inline std::vector<std::uint8_t> stateWith(std::vector<std::uint8_t> saved, std::size_t parameter, float value) {
    const std::size_t at = sizeof(float) * static_cast<std::size_t>(decoder::kParameters[parameter].slider);
    if (saved.size() >= at + sizeof value) std::memcpy(saved.data() + at, &value, sizeof value);
    return saved;
}

// The end of the range a far value is held at, in display units and normalised.
inline double heldAt(std::size_t parameter, float value) {
    return value > 0 ? decoder::kParameters[parameter].max : decoder::kParameters[parameter].min;
}
inline float heldAtNormalized(float value) { return value > 0 ? 1.0f : 0.0f; }

// The loudest an output can be per unit of the three inputs' summed magnitudes with every value
// inside its range: the pair's gain, the main trim's top and a decoded channel's two trims at
// their tops (the DI's level and shares stay below that). Worked out by hand: 2 x 10^(10/20) x
// 10^(24/20) = 100.237, rounded up.
inline constexpr double kLoudestGain = 100.24;

// Every output sample finite and no louder than its frame's inputs allow.
template <class Sample>
::testing::AssertionResult withinTheLoudestGain(const Sample* const* inputs, const Sample* const* outputs,
                                                std::size_t frames) {
    for (std::size_t j = 0; j < frames; ++j) {
        const double in = std::fabs(double(inputs[0][j])) + std::fabs(double(inputs[1][j])) +
                          std::fabs(double(inputs[2][j]));
        for (int k = 0; k < 3; ++k) {
            const double out = outputs[k][j];
            if (!std::isfinite(out) || std::fabs(out) > kLoudestGain * in)
                return ::testing::AssertionFailure() << "frame " << j << " output " << k << ": " << out
                                                     << " from an input sum of " << in;
        }
    }
    return ::testing::AssertionSuccess();
}
