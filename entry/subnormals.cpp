#include "entry/subnormals.h"

#include <bit>
#include <limits>
#include <type_traits>

namespace vintrel {

namespace {

template <class Sample>
using BitsOf = std::conditional_t<sizeof(Sample) == 4, std::uint32_t, std::uint64_t>;
template <class Sample>
constexpr BitsOf<Sample> kSign = BitsOf<Sample>{1} << (8 * sizeof(Sample) - 1);
template <class Sample>
constexpr BitsOf<Sample> kSmallestNormal = std::bit_cast<BitsOf<Sample>>(std::numeric_limits<Sample>::min());

template <class Sample>
void flush(const Sample* from, Sample* to, std::int32_t n) {
    using Bits = BitsOf<Sample>;
    for (std::int32_t j = 0; j < n; ++j) {
        const Bits bits = std::bit_cast<Bits>(from[j]);
        to[j] = std::bit_cast<Sample>((bits & ~kSign<Sample>) < kSmallestNormal<Sample> ? bits & kSign<Sample> : bits);
    }
}

template <class Sample>
bool any(const Sample* x, std::int32_t n) {
    using Bits = BitsOf<Sample>;
    Bits found = 0;  // no exit on the first: one test per sample
    for (std::int32_t j = 0; j < n; ++j) {
        const Bits magnitude = std::bit_cast<Bits>(x[j]) & ~kSign<Sample>;
        found |= magnitude - 1 < kSmallestNormal<Sample> - 1 ? 1 : 0;  // 0 - 1 wraps past them all
    }
    return found != 0;
}

}  // namespace

void flushSubnormals(const float* from, float* to, std::int32_t n) noexcept { flush(from, to, n); }
void flushSubnormals(const double* from, double* to, std::int32_t n) noexcept { flush(from, to, n); }
bool anySubnormal(const float* x, std::int32_t n) noexcept { return any(x, n); }
bool anySubnormal(const double* x, std::int32_t n) noexcept { return any(x, n); }

}  // namespace vintrel
