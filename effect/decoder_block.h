// What the decoder's vector kernels need for one processing call: every derived value that
// cannot change within it, and the kernels for each instruction set.
#pragma once

#include <cstdint>

struct DecoderBlock {
    bool processed;
    std::int32_t a, b;  // slots that the two decoded channels land on
    double widthBalance, midWeight, widthCompensation, diPan, oneMinusDiPan, msEnable, midTrimGain, sideTrimGain,
        outputTrimGain, diGain, diMixAmount, diEnable, mainTrimGain, diPin3Amount;
};

// The widest register holds this many frames; a block's leftover frames are padded to it.
constexpr std::int32_t kDecoderTailFrames = 8;

// Each decodes whole registers of frames and answers how many leading frames it did.
using DecodeFloats = std::int32_t (*)(const DecoderBlock&, const float* const* inputs, float* const* outputs,
                                      std::int32_t frames);
using DecodeDoubles = std::int32_t (*)(const DecoderBlock&, const double* const* inputs, double* const* outputs,
                                       std::int32_t frames);

std::int32_t decodeFloats128(const DecoderBlock&, const float* const*, float* const*, std::int32_t);
std::int32_t decodeDoubles128(const DecoderBlock&, const double* const*, double* const*, std::int32_t);
// Only on x86, only called after the processor said it has the instructions.
std::int32_t decodeFloatsAvx2(const DecoderBlock&, const float* const*, float* const*, std::int32_t);
std::int32_t decodeDoublesAvx2(const DecoderBlock&, const double* const*, double* const*, std::int32_t);
std::int32_t decodeFloatsAvx512(const DecoderBlock&, const float* const*, float* const*, std::int32_t);
std::int32_t decodeDoublesAvx512(const DecoderBlock&, const double* const*, double* const*, std::int32_t);

// Chooses the kernels of a register width: 2 (every processor), 4 (x86 with AVX2) or 8 (x86
// with AVX-512). False, and no change, when this processor lacks that width. The module
// chooses the widest at load.
bool useDecoderKernels(int width);
