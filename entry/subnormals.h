// Subnormal numbers, found and flushed on their bits: no arithmetic meets one (it would cost
// many times its usual time, here and in whatever plays after us), the host's flush modes
// change nothing, and every other value keeps its bits. Loops the compiler does a register at
// a time (their file is built for it).
#pragma once

#include <cstdint>

namespace vintrel {

// Each number below the smallest normal one as zero of its sign, every other as it is; `from`
// and `to` may be the same.
void flushSubnormals(const float* from, float* to, std::int32_t n) noexcept;
void flushSubnormals(const double* from, double* to, std::int32_t n) noexcept;
// Whether every one of these is zero (of either sign): a sound answers at its first sample,
// silence after one pass a register at a time.
bool allZero(const float* x, std::int32_t n) noexcept;
bool allZero(const double* x, std::int32_t n) noexcept;

}  // namespace vintrel
