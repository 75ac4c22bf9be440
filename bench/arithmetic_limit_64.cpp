// The arithmetic limit in 64-byte registers: this file alone is compiled for AVX-512.
#include "bench/arithmetic_limit.h"

void arithmeticLimit64(benchmark::State& state) { arithmeticLimit<64>(state); }
