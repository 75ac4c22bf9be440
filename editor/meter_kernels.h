// The meters' block measurement of three channels, one translation unit per instruction set (the baseline
// everywhere, AVX2 and AVX-512 on x86, asked for once at load), all of one order of additions.
#pragma once

#include <cstdint>

namespace editor {

constexpr int kLaneBytes = 128;  // one row of lanes: eight 16-byte registers, two of 64

void squares128(const float* const* x, std::int32_t frames, float* largest, float* sum);
void squares128(const double* const* x, std::int32_t frames, double* largest, double* sum);
void squaresAvx2(const float* const* x, std::int32_t frames, float* largest, float* sum);
void squaresAvx2(const double* const* x, std::int32_t frames, double* largest, double* sum);
void squaresAvx512(const float* const* x, std::int32_t frames, float* largest, float* sum);
void squaresAvx512(const double* const* x, std::int32_t frames, double* largest, double* sum);

}  // namespace editor
