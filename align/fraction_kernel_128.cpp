// The fractional delay's sum in 16-byte registers: every processor has them (SSE2, NEON).
#include "align/fraction_kernel.h"

namespace align {

void sumTaps128(const double* x, std::int32_t frames, const double* taps, int first, int count, double* y) {
    sumTaps<16>(x, frames, taps, first, count, y);
}

}  // namespace align
