// 10^x with about 102 correct bits in double-double arithmetic, then rounded once. The
// runtime's pow differs between C libraries by a few units in the last place, and a gain must
// not: a session renders the same bits on every system. Every operation here is a single IEEE
// operation (the build forbids contraction into fused multiply-adds), so every compiler gives
// the same result. The constants come from tools/gain_tables.
#include "effect/decibels.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace vintrel {
namespace {

struct DoubleDouble {
    double hi, lo;
};

// a + b exactly, when |a| >= |b| or a is 0.
DoubleDouble fastTwoSum(double a, double b) {
    const double s = a + b;
    return {s, b - (s - a)};
}

// a + b exactly.
DoubleDouble twoSum(double a, double b) {
    const double s = a + b;
    const double bb = s - a;
    return {s, (a - (s - bb)) + (b - bb)};
}

// a * b exactly (Dekker), halves split by Veltkamp's constant 2^27 + 1.
DoubleDouble twoProduct(double a, double b) {
    auto split = [](double v, double& high, double& low) {
        const double c = 134217729.0 * v;
        high = c - (c - v);
        low = v - high;
    };
    double ah, al, bh, bl;
    split(a, ah, al);
    split(b, bh, bl);
    const double p = a * b;
    return {p, ((ah * bh - p) + ah * bl + al * bh) + al * bl};
}

DoubleDouble add(DoubleDouble a, DoubleDouble b) {
    DoubleDouble s = twoSum(a.hi, b.hi);
    const DoubleDouble t = twoSum(a.lo, b.lo);
    s = fastTwoSum(s.hi, s.lo + t.hi);
    return fastTwoSum(s.hi, s.lo + t.lo);
}

DoubleDouble multiply(DoubleDouble a, DoubleDouble b) {
    DoubleDouble p = twoProduct(a.hi, b.hi);
    return fastTwoSum(p.hi, p.lo + (a.hi * b.lo + a.lo * b.hi));
}

// 2^e for a normal exponent, built from its bits.
double powerOfTwo(int e) {
    const std::uint64_t bits = static_cast<std::uint64_t>(e + 1023) << 52;
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

// log10(2)/64 in three parts; the first two have at most 33 bits, so k times them is exact
// for every |k| < 2^20.
constexpr double kLog10Of2Over64[3] = {0x1.3441350ap-8, -0x1.0c0219dcp-45, -0x1.da994fd20dba2p-81};
constexpr double kSixtyFourLog2Of10 = 0x1.a934f0979a371p+7;  // only to choose k
constexpr DoubleDouble kLn10 = {0x1.26bb1bbb55516p+1, -0x1.f48ad494ea3e9p-53};

// 1/n! for n = 2 to 11, as high and low parts.
constexpr DoubleDouble kInverseFactorial[] = {
    {0x1p-1, 0x0p+0},  // 1/2!
    {0x1.5555555555555p-3, 0x1.5555555555555p-57},  // 1/3!
    {0x1.5555555555555p-5, 0x1.5555555555555p-59},  // 1/4!
    {0x1.1111111111111p-7, 0x1.1111111111111p-63},  // 1/5!
    {0x1.6c16c16c16c17p-10, -0x1.f49f49f49f49fp-65},  // 1/6!
    {0x1.a01a01a01a01ap-13, 0x1.a01a01a01a01ap-73},  // 1/7!
    {0x1.a01a01a01a01ap-16, 0x1.a01a01a01a01ap-76},  // 1/8!
    {0x1.71de3a556c734p-19, -0x1.c154f8ddc6cp-73},  // 1/9!
    {0x1.27e4fb7789f5cp-22, 0x1.cbbc05b4fa99ap-76},  // 1/10!
    {0x1.ae64567f544e4p-26, -0x1.c062e06d1f209p-80},  // 1/11!
};
// 2^(j/64) for j = 0 to 63.
constexpr DoubleDouble kTwoToTheJ64th[64] = {
    {0x1p+0, 0x0p+0},
    {0x1.02c9a3e778061p+0, -0x1.19083535b085dp-56},
    {0x1.059b0d3158574p+0, 0x1.d73e2a475b465p-55},
    {0x1.0874518759bc8p+0, 0x1.186be4bb284ffp-57},
    {0x1.0b5586cf9890fp+0, 0x1.8a62e4adc610bp-54},
    {0x1.0e3ec32d3d1a2p+0, 0x1.03a1727c57b53p-59},
    {0x1.11301d0125b51p+0, -0x1.6c51039449b3ap-54},
    {0x1.1429aaea92dep+0, -0x1.32fbf9af1369ep-54},
    {0x1.172b83c7d517bp+0, -0x1.19041b9d78a76p-55},
    {0x1.1a35beb6fcb75p+0, 0x1.e5b4c7b4968e4p-55},
    {0x1.1d4873168b9aap+0, 0x1.e016e00a2643cp-54},
    {0x1.2063b88628cd6p+0, 0x1.dc775814a8495p-55},
    {0x1.2387a6e756238p+0, 0x1.9b07eb6c70573p-54},
    {0x1.26b4565e27cddp+0, 0x1.2bd339940e9d9p-55},
    {0x1.29e9df51fdee1p+0, 0x1.612e8afad1255p-55},
    {0x1.2d285a6e4030bp+0, 0x1.0024754db41d5p-54},
    {0x1.306fe0a31b715p+0, 0x1.6f46ad23182e4p-55},
    {0x1.33c08b26416ffp+0, 0x1.32721843659a6p-54},
    {0x1.371a7373aa9cbp+0, -0x1.63aeabf42eae2p-54},
    {0x1.3a7db34e59ff7p+0, -0x1.5e436d661f5e3p-56},
    {0x1.3dea64c123422p+0, 0x1.ada0911f09ebcp-55},
    {0x1.4160a21f72e2ap+0, -0x1.ef3691c309278p-58},
    {0x1.44e086061892dp+0, 0x1.89b7a04ef80dp-59},
    {0x1.486a2b5c13cdp+0, 0x1.3c1a3b69062fp-56},
    {0x1.4bfdad5362a27p+0, 0x1.d4397afec42e2p-56},
    {0x1.4f9b2769d2ca7p+0, -0x1.4b309d25957e3p-54},
    {0x1.5342b569d4f82p+0, -0x1.07abe1db13cadp-55},
    {0x1.56f4736b527dap+0, 0x1.9bb2c011d93adp-54},
    {0x1.5ab07dd485429p+0, 0x1.6324c054647adp-54},
    {0x1.5e76f15ad2148p+0, 0x1.ba6f93080e65ep-54},
    {0x1.6247eb03a5585p+0, -0x1.383c17e40b497p-54},
    {0x1.6623882552225p+0, -0x1.bb60987591c34p-54},
    {0x1.6a09e667f3bcdp+0, -0x1.bdd3413b26456p-54},
    {0x1.6dfb23c651a2fp+0, -0x1.bbe3a683c88abp-57},
    {0x1.71f75e8ec5f74p+0, -0x1.16e4786887a99p-55},
    {0x1.75feb564267c9p+0, -0x1.0245957316dd3p-54},
    {0x1.7a11473eb0187p+0, -0x1.41577ee04992fp-55},
    {0x1.7e2f336cf4e62p+0, 0x1.05d02ba15797ep-56},
    {0x1.82589994cce13p+0, -0x1.d4c1dd41532d8p-54},
    {0x1.868d99b4492edp+0, -0x1.fc6f89bd4f6bap-54},
    {0x1.8ace5422aa0dbp+0, 0x1.6e9f156864b27p-54},
    {0x1.8f1ae99157736p+0, 0x1.5cc13a2e3976cp-55},
    {0x1.93737b0cdc5e5p+0, -0x1.75fc781b57ebcp-57},
    {0x1.97d829fde4e5p+0, -0x1.d185b7c1b85d1p-54},
    {0x1.9c49182a3f09p+0, 0x1.c7c46b071f2bep-56},
    {0x1.a0c667b5de565p+0, -0x1.359495d1cd533p-54},
    {0x1.a5503b23e255dp+0, -0x1.d2f6edb8d41e1p-54},
    {0x1.a9e6b5579fdbfp+0, 0x1.0fac90ef7fd31p-54},
    {0x1.ae89f995ad3adp+0, 0x1.7a1cd345dcc81p-54},
    {0x1.b33a2b84f15fbp+0, -0x1.2805e3084d708p-57},
    {0x1.b7f76f2fb5e47p+0, -0x1.5584f7e54ac3bp-56},
    {0x1.bcc1e904bc1d2p+0, 0x1.23dd07a2d9e84p-55},
    {0x1.c199bdd85529cp+0, 0x1.11065895048ddp-55},
    {0x1.c67f12e57d14bp+0, 0x1.2884dff483cadp-54},
    {0x1.cb720dcef9069p+0, 0x1.503cbd1e949dbp-56},
    {0x1.d072d4a07897cp+0, -0x1.cbc3743797a9cp-54},
    {0x1.d5818dcfba487p+0, 0x1.2ed02d75b3707p-55},
    {0x1.da9e603db3285p+0, 0x1.c2300696db532p-54},
    {0x1.dfc97337b9b5fp+0, -0x1.1a5cd4f184b5cp-54},
    {0x1.e502ee78b3ff6p+0, 0x1.39e8980a9cc8fp-55},
    {0x1.ea4afa2a490dap+0, -0x1.e9c23179c2893p-54},
    {0x1.efa1bee615a27p+0, 0x1.dc7f486a4b6bp-54},
    {0x1.f50765b6e454p+0, 0x1.9d3e12dd8a18bp-54},
    {0x1.fa7c1819e90d8p+0, 0x1.74853f3a5931ep-55},
};

// (m.hi + m.lo) * 2^n rounded once, for the m the reduction gives (about 1 to 2).
double scaled(DoubleDouble m, int n) {
    if (n > -1022) {
        // Exact, or infinity when the rounded value passes the largest double.
        return n > 1000 ? m.hi * powerOfTwo(1000) * powerOfTwo(n - 1000) : m.hi * powerOfTwo(n);
    }
    // A subnormal result: scaling m.hi rounds a second time, on a coarser grid, so the low
    // part decides the ties that rounding made.
    double h = m.hi * powerOfTwo(n + 600) * powerOfTwo(-600);
    const double back = h * powerOfTwo(600) * powerOfTwo(-n - 600);
    const double e = m.hi - back;  // exact
    const double half = powerOfTwo(-1075 - n);  // half the subnormal spacing, at m's scale
    const double spacing = std::numeric_limits<double>::denorm_min();
    if (e == half && m.lo > 0) h += spacing;
    if (e == -half && m.lo < 0) h -= spacing;
    return h;
}

}  // namespace

double powerOfTen(double x) {
    if (x != x) return x;
    if (x > 310.0) return std::numeric_limits<double>::infinity();  // 10^308.26 is the largest double
    if (x < -330.0) return 0.0;  // below half the smallest subnormal, 10^-323.6

    // x = k log10(2)/64 + r with |r| <= log10(2)/128, r carried to about 117 bits.
    const double k = std::floor(x * kSixtyFourLog2Of10 + 0.5);
    DoubleDouble r = twoSum(x, -k * kLog10Of2Over64[0]);
    r = add(r, {-k * kLog10Of2Over64[1], 0.0});
    r = add(r, twoProduct(-k, kLog10Of2Over64[2]));

    // e^y - 1 for y = r ln(10), |y| <= ln(2)/128: the Taylor terms past 1/11! are below 2^-119.
    const DoubleDouble y = multiply(r, kLn10);
    DoubleDouble p = kInverseFactorial[9];
    for (int i = 8; i >= 0; --i) p = add(multiply(p, y), kInverseFactorial[i]);
    p = add(multiply(p, y), {1.0, 0.0});
    const DoubleDouble expm1 = multiply(p, y);

    // 10^x = 2^(k/64) e^y = 2^n 2^(j/64) (1 + expm1).
    const auto ki = static_cast<std::int32_t>(k);
    const std::int32_t j = ki & 63;
    const DoubleDouble t = kTwoToTheJ64th[j];
    return scaled(add(t, multiply(t, expm1)), (ki - j) / 64);
}

}  // namespace vintrel
