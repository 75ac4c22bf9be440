// The vector kernels for every processor: two doubles per register, SSE2 on x86, NEON on
// 64-bit ARM, whatever the compiler makes of a 16-byte vector elsewhere.
#include "effect/decoder_kernel.h"

std::int32_t decodeFloats128(const DecoderBlock& c, const float* const* in, float* const* out, std::int32_t frames) {
    return decodeFrames<2>(c, in[0], in[1], in[2], out[0], out[1], out[2], frames);
}

std::int32_t decodeDoubles128(const DecoderBlock& c, const double* const* in, double* const* out,
                              std::int32_t frames) {
    return decodeFrames<2>(c, in[0], in[1], in[2], out[0], out[1], out[2], frames);
}
