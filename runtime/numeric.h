// Conversions every effect shares: doubles used as array positions, and the store guard.
#pragma once

#include <cmath>
#include <cstdint>

namespace vintrel {

// Rounds a double meant as an integer position: 0.0001 away from zero, then toward zero.
// NaN and values outside the 32-bit range give the 32-bit minimum, as the x86 conversion
// instruction does, instead of undefined behaviour.
inline std::int32_t roundToPosition(double x) {
    const double n = x >= 0 ? x + 0.0001 : x - 0.0001;
    if (!(n > -2147483649.0 && n < 2147483648.0)) return INT32_MIN;
    return static_cast<std::int32_t>(n);
}

inline std::int32_t sliderPosition(double x) { return roundToPosition(x) & 127; }
inline std::int32_t samplePosition(double x) { return roundToPosition(x) & 63; }

// What an effect stores is always finite: NaN and infinities become 0.0.
inline double storeGuard(double v) { return std::isfinite(v) ? v : 0.0; }

}  // namespace vintrel
