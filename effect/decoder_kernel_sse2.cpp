// The vector kernels for every x86 processor the plug-in runs on: two doubles per register.
#include "effect/decoder_kernel.h"

std::int32_t decodeFloatsSse2(const DecoderBlock& c, const float* const* in, float* const* out, std::int32_t frames) {
    return decodeFrames<2>(c, in[0], in[1], in[2], out[0], out[1], out[2], frames);
}

std::int32_t decodeDoublesSse2(const DecoderBlock& c, const double* const* in, double* const* out,
                               std::int32_t frames) {
    return decodeFrames<2>(c, in[0], in[1], in[2], out[0], out[1], out[2], frames);
}
