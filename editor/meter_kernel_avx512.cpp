// The meters' measurement for processors with AVX-512. This file alone is compiled for
// AVX-512 and is only called after the processor said it has it.
#include "editor/meter_kernel.h"

namespace editor {

void squaresAvx512(const float* const* x, std::int32_t frames, float* largest, float* sum) {
    threeSquares<64, 3>(x, frames, largest, sum);
}
void squaresAvx512(const double* const* x, std::int32_t frames, double* largest, double* sum) {
    threeSquares<64, 3>(x, frames, largest, sum);
}

void pointsAvx512(const float* left, const float* right, std::size_t points, float* to) {
    pointsOf(left, right, points, to);
}
void pointsAvx512(const double* left, const double* right, std::size_t points, float* to) {
    pointsOf(left, right, points, to);
}

}  // namespace editor
