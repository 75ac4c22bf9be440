// The fractional delay's sum and the tone filter's steps for processors with AVX2: four doubles
// per register. This file alone is compiled for AVX2 and is only called after the processor
// said it has it.
#include "align/fraction_kernel.h"
#include "align/tone_wave.h"

namespace align {

void sumTapsAvx2(const double* x, std::int32_t frames, const double* taps, int first, int count, double* y) {
    sumTaps<32>(x, frames, taps, first, count, y);
}

void toneStepsAvx2(ToneLanes& k, double* w, std::size_t n) { toneSteps<32>(k, w, n); }

}  // namespace align
