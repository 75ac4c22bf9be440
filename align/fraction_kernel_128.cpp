// The fractional delay's sum and the tone filter's steps in 16-byte registers: every processor has them (SSE2, NEON).
#include "align/fraction_kernel.h"
#include "align/tone_wave.h"

namespace align {

void sumTaps128(const double* x, std::int32_t frames, const double* taps, int first, int count, double* y) {
    sumTaps<16>(x, frames, taps, first, count, y);
}

void toneSteps128(ToneLanes& k, double* w, std::size_t n) { toneSteps<16>(k, w, n); }

}  // namespace align
