#include "entry/subnormals.h"

#include <bit>
#include <cmath>
#include <limits>
#include <type_traits>

namespace vintrel {

namespace {

// Compares of magnitudes: they take a subnormal operand at their usual speed (arithmetic would
// not), they give the same answer under a host's flush modes (a subnormal read as zero is
// below the smallest normal number too), and every processor does them a register at a time.
template <class Sample>
constexpr Sample kSmallestNormal = std::numeric_limits<Sample>::min();

template <class Sample>
void flush(const Sample* from, Sample* to, std::int32_t n) {
    for (std::int32_t j = 0; j < n; ++j) {
        const Sample x = from[j];
        to[j] = std::fabs(x) < kSmallestNormal<Sample> ? std::copysign(Sample(0), x) : x;
    }
}

// The bits of every sample but their signs ORed together: zero only if each is a zero (a NaN
// is no silence); bitwise, so the vectoriser takes it for either width.
template <class Sample>
bool zero(const Sample* x, std::int32_t n) {
    using Bits = std::conditional_t<sizeof(Sample) == 4, std::uint32_t, std::uint64_t>;
    constexpr Bits magnitude = ~(Bits{1} << (8 * sizeof(Sample) - 1));
    if (n > 0 && x[0] != 0) return false;  // a sound answers at once
    Bits found = 0;
    for (std::int32_t j = 0; j < n; ++j) found |= std::bit_cast<Bits>(x[j]);
    return (found & magnitude) == 0;
}

}  // namespace

void flushSubnormals(const float* from, float* to, std::int32_t n) noexcept { flush(from, to, n); }
void flushSubnormals(const double* from, double* to, std::int32_t n) noexcept { flush(from, to, n); }
bool allZero(const float* x, std::int32_t n) noexcept { return zero(x, n); }
bool allZero(const double* x, std::int32_t n) noexcept { return zero(x, n); }

}  // namespace vintrel
