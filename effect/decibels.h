// Decibels to gain, the same bits on every compiler and C runtime.
#pragma once

namespace vintrel {

// 10 to the power x, correctly rounded to the nearest double (ties to even), from IEEE
// additions and multiplications alone. NaN stays NaN, past the largest double it is
// infinity, below the smallest it is 0.
double powerOfTen(double x);

// The gain of a level in decibels: 10^(v/20), the quotient formed first.
inline double decibelsToGain(double v) { return powerOfTen(v / 20.0); }

}  // namespace vintrel
