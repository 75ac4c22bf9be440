// The fractional delay's sum and the tone filter's steps for processors with AVX-512: eight
// doubles per register. This file alone is compiled for AVX-512 and is only called after the
// processor said it has it.
#include "align/fraction_kernel.h"
#include "align/tone_wave.h"

namespace align {

void sumTapsAvx512(const double* x, std::int32_t frames, const double* taps, int first, int count, double* y) {
    sumTaps<64>(x, frames, taps, first, count, y);
}

void toneStepsAvx512(ToneLanes& k, double* w, std::size_t n) { toneSteps<64>(k, w, n); }

}  // namespace align
