// The meters' measurement for every processor: SSE2 on x86, NEON on 64-bit ARM, whatever the
// compiler makes of a 16-byte vector elsewhere.
#include "editor/meter_kernel.h"

namespace editor {

void squares128(const float* const* x, std::int32_t frames, float* largest, float* sum) {
    threeSquares<16, 1>(x, frames, largest, sum);
}
void squares128(const double* const* x, std::int32_t frames, double* largest, double* sum) {
    threeSquares<16, 1>(x, frames, largest, sum);
}

void points128(const float* left, const float* right, std::size_t points, float* to) {
    pointsOf(left, right, points, to);
}
void points128(const double* left, const double* right, std::size_t points, float* to) {
    pointsOf(left, right, points, to);
}

}  // namespace editor
