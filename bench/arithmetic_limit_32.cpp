// The arithmetic limit in 32-byte registers: this file alone is compiled for AVX2.
#include "bench/arithmetic_limit.h"

void arithmeticLimit32(benchmark::State& state) { arithmeticLimit<32>(state); }
