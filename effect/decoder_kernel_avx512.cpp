// The vector kernels for processors with AVX-512: eight doubles per register. This file alone is
// compiled for AVX-512 and is only called after the processor said it has it.
#include "effect/decoder_kernel.h"

std::int32_t decodeFloatsAvx512(const DecoderBlock& c, const float* const* in, float* const* out, std::int32_t frames) {
    return decodeFrames<8>(c, in[0], in[1], in[2], out[0], out[1], out[2], frames);
}

std::int32_t decodeDoublesAvx512(const DecoderBlock& c, const double* const* in, double* const* out,
                                 std::int32_t frames) {
    return decodeFrames<8>(c, in[0], in[1], in[2], out[0], out[1], out[2], frames);
}
