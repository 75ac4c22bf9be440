// The decoder's per-frame arithmetic for many frames at once, in vector registers. Every
// operation is the same IEEE operation, in the same order, as DoSample performs for one
// frame, and the store guard is a mask, so each output has exactly DoSample's bits.
// Included only by the kernel translation units, each compiled for one instruction set.
#pragma once

#include <cstdint>
#include <cstring>

#include "effect/decoder_block.h"
#include "effect/decoder_parameters.h"

#if defined(__AVX512F__)
#include <immintrin.h>
#endif

namespace {

// Register types for W doubles: the doubles, W floats, and the mask of a comparison.
template <int W>
struct Lanes;
template <>
struct Lanes<2> {
    typedef double Doubles __attribute__((vector_size(16)));
    typedef float Floats __attribute__((vector_size(8)));
};
template <>
struct Lanes<4> {
    typedef double Doubles __attribute__((vector_size(32)));
    typedef float Floats __attribute__((vector_size(16)));
};
template <>
struct Lanes<8> {
    typedef double Doubles __attribute__((vector_size(64)));
    typedef float Floats __attribute__((vector_size(32)));
};

template <class V>
inline V broadcast(double x) {
    V v;
    for (unsigned i = 0; i < sizeof(V) / sizeof(double); ++i) v[i] = x;
    return v;
}

// NaN and infinities become 0.0, everything else passes unchanged (x - x is 0 only when finite).
// The mask keeps x's own bits, so a subnormal survives even where the processor reads
// subnormal operands as zero, as the per-frame store guard keeps it.
template <class V>
inline V guard(V x) {
    auto finite = (x - x) == V{};
    return (V)((decltype(finite))x & finite);
}


#if defined(__AVX512F__)
// One instruction instead of three: fixupimm classifies each lane and answers +0 for NaN and
// the infinities and the lane itself for every other class. "The lane itself" is taken from
// the destination operand, which the processor passes on untouched, so a subnormal stays even
// where denormals-are-zero makes the classified operand read as zero.
template <>
inline Lanes<8>::Doubles guard(Lanes<8>::Doubles x) {
    return (Lanes<8>::Doubles)_mm512_fixupimm_pd((__m512d)x, (__m512d)x, _mm512_set1_epi64(0x00880088), 0);
}
#endif

template <int W, class Sample>
inline typename Lanes<W>::Doubles load(const Sample* p) {
    using V = typename Lanes<W>::Doubles;
    if constexpr (sizeof(Sample) == sizeof(double)) {
        V v;
        std::memcpy(&v, p, sizeof v);
        return v;
    } else {
        typename Lanes<W>::Floats raw;
        std::memcpy(&raw, p, sizeof raw);
        return __builtin_convertvector(raw, V);
    }
}

template <int W, class Sample>
inline void store(Sample* p, typename Lanes<W>::Doubles v) {
    if constexpr (sizeof(Sample) == sizeof(double)) {
        std::memcpy(p, &v, sizeof v);
    } else {
        const auto narrowed = __builtin_convertvector(v, typename Lanes<W>::Floats);  // rounds to nearest
        std::memcpy(p, &narrowed, sizeof narrowed);
    }
}

// Decodes whole groups of lanes and answers how many frames it did.
template <int W, class Sample>
inline std::int32_t decodeFrames(const DecoderBlock& c, const Sample* in0, const Sample* in1, const Sample* in2,
                                 Sample* out0, Sample* out1, Sample* out2, std::int32_t frames) {
    using V = typename Lanes<W>::Doubles;
    std::int32_t j = 0;
    if (!c.processed) {
        for (; j + W <= frames; j += W) {
            const V mid = guard(load<W>(in0 + j)), side = guard(load<W>(in1 + j));
            const V di = guard(load<W>(in2 + j));
            // Highest channel first, as frame by frame: where outputs share a buffer, the lower stays.
            store<W>(out2 + j, guard(di * c.diGain * c.diPin3Amount));
            store<W>(out1 + j, guard(mid - side));
            store<W>(out0 + j, guard(mid + side));
        }
        return j;
    }
    const V widthBalance = broadcast<V>(c.widthBalance), midWeight = broadcast<V>(c.midWeight);
    const V diPan = broadcast<V>(c.diPan), leftPan = broadcast<V>(c.oneMinusDiPan);
    const V msEnable = broadcast<V>(c.msEnable), width = broadcast<V>(c.widthCompensation);
    const V midTrim = broadcast<V>(c.midTrimGain), sideTrim = broadcast<V>(c.sideTrimGain);
    const V outputTrim = broadcast<V>(c.outputTrimGain), diGain = broadcast<V>(c.diGain);
    const V diMix = broadcast<V>(c.diMixAmount), diEnable = broadcast<V>(c.diEnable);
    const V mainTrim = broadcast<V>(c.mainTrimGain), pin3 = broadcast<V>(c.diPin3Amount);
    const V two = broadcast<V>(decoder::kDecodedPairGain);
    for (; j + W <= frames; j += W) {
        const V in2v = load<W>(in2 + j);
        const V sideIn = load<W>(in1 + j) * widthBalance;
        const V midIn = load<W>(in0 + j) * midWeight;
        const V diRight = guard(in2v * diPan), diLeft = guard(in2v * leftPan);
        const V midSignal = guard(midIn * msEnable), sideSignal = guard(msEnable * sideIn);
        const V left = guard((midSignal + sideSignal) * width * midTrim * outputTrim);
        const V right = guard((midSignal - sideSignal) * width * sideTrim * outputTrim);
        const V first = guard((left + diGain * diLeft * diMix * diEnable) * two * mainTrim);
        const V second = guard((diGain * diRight * diMix * diEnable + right) * two * mainTrim);
        // Slot b is written after slot a, so where both land on one slot, b's value stays.
        const V slot0 = c.b == 0 ? second : c.a == 0 ? first : left;
        const V slot1 = c.b == 1 ? second : c.a == 1 ? first : right;
        const V slot2 = c.b == 2 ? second : c.a == 2 ? first : in2v;
        store<W>(out2 + j, guard(guard(slot2) * diGain * pin3 * mainTrim));
        store<W>(out1 + j, slot1);
        store<W>(out0 + j, slot0);
    }
    return j;
}

}  // namespace
