// The meters' measurement for processors with AVX2. This file alone is compiled for AVX2 and
// is only called after the processor said it has it.
#include "editor/meter_kernel.h"

namespace editor {

void squaresAvx2(const float* const* x, std::int32_t frames, float* largest, float* sum) {
    threeSquares<32, 1>(x, frames, largest, sum);
}
void squaresAvx2(const double* const* x, std::int32_t frames, double* largest, double* sum) {
    threeSquares<32, 1>(x, frames, largest, sum);
}

void pointsAvx2(const float* left, const float* right, std::size_t points, float* to) {
    pointsOf(left, right, points, to);
}
void pointsAvx2(const double* left, const double* right, std::size_t points, float* to) {
    pointsOf(left, right, points, to);
}

}  // namespace editor
