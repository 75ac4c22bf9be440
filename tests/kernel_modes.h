// For tests of the decoding path on every kernel width this processor has and under every
// flush mode a host may leave set.
#pragma once

#include <cstdint>
#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif

#include "effect/decoder_block.h"

namespace {

// Runs check(width) with the kernels of every width this processor has, then goes back to
// the widest, as the module chose.
template <class Check>
int forEveryKernel(Check check) {
    int tested = 0;
    for (int width : {2, 4, 8}) {
        if (!useDecoderKernels(width)) continue;
        ++tested;
        check(width);
    }
    useDecoderKernels(8) || useDecoderKernels(4);
    return tested;
}

// The processor's handling of subnormals, set for a scope and restored after it: hosts may
// leave denormals-are-zero and flush-to-zero in any combination.
struct FloatingPointMode {
    const char* name;
    unsigned bits;
};
#if defined(__x86_64__) || defined(__i386__)
constexpr unsigned kDenormalsAreZero = 0x0040, kFlushToZero = 0x8000;
const FloatingPointMode kModes[] = {{"IEEE", 0},
                                    {"denormals are zero", kDenormalsAreZero},
                                    {"flush to zero", kFlushToZero},
                                    {"both", kDenormalsAreZero | kFlushToZero}};
unsigned readMode() { return _mm_getcsr(); }
void writeMode(unsigned mode) { _mm_setcsr(mode); }
constexpr unsigned kModeMask = kDenormalsAreZero | kFlushToZero;
#elif defined(__aarch64__)
constexpr unsigned kFlushToZero = 1u << 24;  // FPCR.FZ: subnormal operands and results are zero
const FloatingPointMode kModes[] = {{"IEEE", 0}, {"flush to zero", kFlushToZero}};
unsigned readMode() {
    std::uint64_t fpcr;
    __asm__ volatile("mrs %0, fpcr" : "=r"(fpcr));
    return static_cast<unsigned>(fpcr);
}
void writeMode(unsigned mode) { __asm__ volatile("msr fpcr, %0" : : "r"(static_cast<std::uint64_t>(mode))); }
constexpr unsigned kModeMask = kFlushToZero;
#else
const FloatingPointMode kModes[] = {{"IEEE", 0}};
unsigned readMode() { return 0; }
void writeMode(unsigned) {}
constexpr unsigned kModeMask = 0;
#endif

class ScopedMode {
public:
    explicit ScopedMode(unsigned bits) : saved(readMode()) { writeMode((saved & ~kModeMask) | bits); }
    ~ScopedMode() { writeMode(saved); }

private:
    unsigned saved;
};

}  // namespace
