// The meters' block measurement of three channels and the scope's copy of every
// kPointStride-th frame of the pair, one translation unit per instruction set (the baseline
// everywhere, AVX2 and AVX-512 on x86, asked for once at load), all of one order of additions.
#pragma once

#include <cstddef>
#include <cstdint>

namespace editor {

constexpr int kLaneBytes = 128;  // one row of lanes: eight 16-byte registers, two of 64
constexpr int kPointStride = 4;  // the scope's frames: every fourth

void squares128(const float* const* x, std::int32_t frames, float* largest, float* sum);
void squares128(const double* const* x, std::int32_t frames, double* largest, double* sum);
void squaresAvx2(const float* const* x, std::int32_t frames, float* largest, float* sum);
void squaresAvx2(const double* const* x, std::int32_t frames, double* largest, double* sum);
void squaresAvx512(const float* const* x, std::int32_t frames, float* largest, float* sum);
void squaresAvx512(const double* const* x, std::int32_t frames, double* largest, double* sum);

void points128(const float* left, const float* right, std::size_t points, float* to);
void points128(const double* left, const double* right, std::size_t points, float* to);
void pointsAvx2(const float* left, const float* right, std::size_t points, float* to);
void pointsAvx2(const double* left, const double* right, std::size_t points, float* to);
void pointsAvx512(const float* left, const float* right, std::size_t points, float* to);
void pointsAvx512(const double* left, const double* right, std::size_t points, float* to);

}  // namespace editor
