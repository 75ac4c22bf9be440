// The DI's alignment stage on signals with known answers: whole delays move samples exactly, a
// fraction is within the stated accuracy of the signal heard that much later, a negative delay
// reports its latency and, advanced by it, is the DI moved earlier; a change crossfades and
// stays between the old and the new alignment at every sample. And the arithmetic it rests on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <random>
#include <vector>

#include "align/di_aligner.h"
#include "align/fft.h"
#include "align/sinc.h"

namespace {

using align::DiAligner;

// Three channels through the stage in blocks of `block`, with a setting changed at frames.
struct Aligned {
    std::vector<double> in[3], out[3];
};

struct Change {
    std::size_t frame;
    double delay;
    bool invert;
};

Aligned through(const std::vector<double> (&in)[3], double rate, std::size_t block, double delay, bool invert,
            const std::vector<Change>& changes = {}) {
    DiAligner stage;
    stage.prepare(rate);
    stage.jumpTo(delay, invert);
    Aligned r;
    for (int c = 0; c < 3; ++c) r.in[c] = in[c], r.out[c].assign(in[c].size(), 0.0);
    const std::size_t frames = in[0].size();
    std::size_t next = 0;
    for (std::size_t at = 0; at < frames;) {
        std::size_t n = std::min(block, frames - at);
        if (next < changes.size()) {
            if (changes[next].frame == at) {
                stage.set(changes[next].delay, changes[next].invert);
                ++next;
            }
            if (next < changes.size()) n = std::min(n, changes[next].frame - at);
        }
        const double* i[] = {in[0].data() + at, in[1].data() + at, in[2].data() + at};
        double* o[] = {r.out[0].data() + at, r.out[1].data() + at, r.out[2].data() + at};
        stage.process(i, o, static_cast<std::int32_t>(n));
        at += n;
    }
    return r;
}

// A sum of sines up to `highest` of the rate, known at every instant.
struct Tones {
    std::vector<double> cycles, phases;
    double at(double n) const {
        double sum = 0.0;
        for (std::size_t k = 0; k < cycles.size(); ++k) sum += std::sin(2 * std::numbers::pi * cycles[k] * n + phases[k]);
        return sum / static_cast<double>(cycles.size());
    }
};

Tones tonesUpTo(double highest, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    Tones t;
    for (int k = 0; k < 12; ++k) {
        t.cycles.push_back(0.002 + (highest - 0.002) * unit(rng));
        t.phases.push_back(2 * std::numbers::pi * unit(rng));
    }
    t.cycles.push_back(highest);  // the top of the band itself
    t.phases.push_back(0.4);
    return t;
}

void fill(std::vector<double> (&in)[3], std::size_t frames, const Tones& t) {
    for (auto& c : in) c.assign(frames, 0.0);
    for (std::size_t j = 0; j < frames; ++j) {
        in[0][j] = 0.5 * std::sin(0.01 * static_cast<double>(j));
        in[1][j] = 0.25 * std::cos(0.003 * static_cast<double>(j));
        in[2][j] = t.at(static_cast<double>(j));
    }
}

TEST(DiAligner, WholeSampleDelaysMoveTheDiExactlyAndNegativeOnesDelayTheMicrophones) {
    std::vector<double> in[3];
    fill(in, 3000, tonesUpTo(0.4, 1));
    // 0.015 from a whole number counts as whole; inverted is each sample negated exactly.
    for (double delay : {0.0, 1.0, 48.0, 479.985, -1.0, -25.0, -480.0, 3.0 - 0.015})
        for (bool invert : {false, true})
            for (std::size_t block : {1u, 37u, 512u}) {
                SCOPED_TRACE(testing::Message() << delay << (invert ? " inverted" : "") << " in blocks of " << block);
                const Aligned r = through(in, 48000, block, delay, invert);
                const auto whole = static_cast<std::ptrdiff_t>(std::lround(delay));
                const std::ptrdiff_t latency = std::max<std::ptrdiff_t>(0, -whole), diShift = whole + latency;
                for (std::ptrdiff_t j = 0; j < 3000; ++j) {
                    const std::ptrdiff_t mic = j - latency, di = j - diShift;
                    ASSERT_EQ(r.out[0][j], mic >= 0 ? in[0][mic] : 0.0);
                    ASSERT_EQ(r.out[1][j], mic >= 0 ? in[1][mic] : 0.0);
                    const double expected = di >= 0 ? (invert ? -in[2][di] : in[2][di]) : 0.0;
                    ASSERT_EQ(r.out[2][j], expected);
                    if (expected == 0.0) {
                        ASSERT_FALSE(std::signbit(r.out[2][j]));  // silence stays +0
                    }
                }
            }
}

TEST(DiAligner, LatencyIsTheLeastThatPutsTheDiEarlierByTheDelay) {
    auto latency = [](double d) { return align::AlignmentPlan::of(d, false).latency; };
    EXPECT_EQ(latency(0), 0);
    EXPECT_EQ(latency(72.6), 0);
    EXPECT_EQ(latency(480), 0);
    EXPECT_EQ(latency(-0.01), 0);  // within the whole-sample tolerance of 0
    EXPECT_EQ(latency(-1), 1);
    EXPECT_EQ(latency(-25.015), 25);
    // A fraction keeps the whole kernel behind it: the whole samples, and 31 more.
    EXPECT_EQ(latency(-0.5), 1 + 31);
    EXPECT_EQ(latency(-72.6), 73 + 31);
    DiAligner stage;
    stage.prepare(48000);
    stage.set(-48, false);
    EXPECT_EQ(stage.latency(), 48);
    stage.set(-72.6, false);  // while the first change still fades in: the newest setting's
    EXPECT_EQ(stage.latency(), 104);
}

// The largest error against the DI heard `delay` samples later: full-scale sines across the band
// up to `highest` of the rate, one at a time, after the kernel has filled.
double worstError(double delay, double highest, double rate = 48000) {
    double worst = 0.0;
    for (double cycles : {0.01, 0.3 * highest, 0.7 * highest, highest}) {
        const Tones t{{cycles}, {0.3}};
        std::vector<double> in[3];
        fill(in, 2400, t);
        const Aligned r = through(in, rate, 256, delay, false);
        const auto latency = static_cast<std::size_t>(align::AlignmentPlan::of(delay, false).latency);
        const auto first = static_cast<std::size_t>(std::max(0.0, delay)) + latency + 40;
        for (std::size_t j = first; j < 2400; ++j)
            worst = std::max(worst, std::abs(r.out[2][j] - t.at(static_cast<double>(j - latency) - delay)));
    }
    return worst;
}

double decibels(double x) { return 20 * std::log10(x); }

// The accuracy the README states, delay by delay: a full-scale sine (the worst of 13 across
// the band) moved within this of the exact value.
TEST(DiAligner, FractionalDelaysAreWithinTheirStatedAccuracy) {
    const struct {
        double from, to, highest, withinDb;
    } table[] = {
        {31.0, 480.0, 0.45, -90},  // the whole 64-tap kernel
        {7.0, 31.0, 0.20, -85},    // 16 to 62 taps
        {3.0, 7.0, 0.10, -75},     // 8 to 14 taps
        {1.0, 3.0, 0.10, -40},     // 4 and 6 taps
        {0.0, 1.0, 0.05, -35},     // 2 taps
        {0.0, 1.0, 0.10, -25},
        {-470.0, 0.0, 0.45, -90},  // negative: latency brings the whole kernel
    };
    for (const auto& row : table)
        for (double f : {0.1, 0.37, 0.5, 0.81})
            for (double whole = std::ceil(row.from); whole < row.to; whole += std::max(1.0, std::round((row.to - row.from) / 5))) {
                const double delay = whole + f;
                if (delay < row.from || delay >= row.to) continue;
                EXPECT_LT(decibels(worstError(delay, row.highest)), row.withinDb)
                    << "delay " << delay << " up to " << row.highest << " of the rate";
            }
    // Content nearer half the rate is not moved faithfully, as stated.
    EXPECT_GT(decibels(worstError(40.5, 0.48)), -40);
}

// During a change every output sample lies between the old and the new alignment's, which
// run on as if nothing had changed; after the crossfade the new one alone.
TEST(DiAligner, AChangeCrossfadesBetweenTheOldAndTheNewAlignment) {
    const double rate = 48000;
    const auto fade = static_cast<std::size_t>(std::lround(rate * DiAligner::kCrossfadeSeconds));
    std::vector<double> tone[3], noise[3];
    fill(tone, 6000, tonesUpTo(0.05, 3));
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    for (auto& c : noise) {
        c.resize(6000);
        for (double& x : c) x = unit(rng);
    }
    const struct {
        double fromDelay;
        bool fromInvert;
        double toDelay;
        bool toInvert;
    } cases[] = {{0, false, 72.6, false}, {72.6, false, 72.6, true}, {10, false, -30.25, true}, {-5, false, 0, false}};
    for (auto* signal : {&tone, &noise})
        for (const auto& c : cases)
            for (std::size_t block : {1u, 37u, 512u}) {
                SCOPED_TRACE(testing::Message() << c.fromDelay << " to " << c.toDelay << " in blocks of " << block);
                const std::size_t at = 1234;
                const Aligned changed = through(*signal, rate, block, c.fromDelay, c.fromInvert, {{at, c.toDelay, c.toInvert}});
                const Aligned before = through(*signal, rate, block, c.fromDelay, c.fromInvert);
                const Aligned after = through(*signal, rate, block, c.toDelay, c.toInvert);
                for (int ch = 0; ch < 3; ++ch)
                    for (std::size_t j = 0; j < 6000; ++j) {
                        const double a = before.out[ch][j], b = after.out[ch][j], y = changed.out[ch][j];
                        if (j < at)
                            ASSERT_EQ(y, a) << "channel " << ch << " frame " << j;
                        else if (j >= at + fade)
                            ASSERT_EQ(y, b) << "channel " << ch << " frame " << j;
                        else
                            ASSERT_TRUE(y >= std::min(a, b) && y <= std::max(a, b)) << "channel " << ch << " frame " << j;
                    }
            }
}

// Passing through, the stage keeps nothing: a change then waits until it has heard the past it
// reaches back to, and crossfades from there; with a past at hand it starts at its own sample.
TEST(DiAligner, AChangeFromNoAlignmentWaitsForThePastItReaches) {
    std::vector<double> in[3];
    fill(in, 3000, tonesUpTo(0.1, 4));
    const auto fade = static_cast<std::size_t>(std::lround(48000 * DiAligner::kCrossfadeSeconds));
    for (const double delay : {72.6, -20.0, 1.0}) {
        SCOPED_TRACE(delay);
        DiAligner stage;
        stage.prepare(48000);
        Aligned r;
        for (int c = 0; c < 3; ++c) r.out[c].assign(3000, 0.0);
        ASSERT_TRUE(stage.passThrough());
        stage.skip(1000);  // frames 0 .. 999 went by as they were
        stage.set(delay, false);
        EXPECT_FALSE(stage.passThrough());
        const double* i[] = {in[0].data() + 1000, in[1].data() + 1000, in[2].data() + 1000};
        double* o[] = {r.out[0].data() + 1000, r.out[1].data() + 1000, r.out[2].data() + 1000};
        stage.process(i, o, 2000);
        const auto waits = static_cast<std::size_t>(align::AlignmentPlan::of(delay, false).reach());
        const Aligned after = through(in, 48000, 256, delay, false);
        for (int c = 0; c < 3; ++c)
            for (std::size_t j = 1000; j < 3000; ++j) {
                const double a = in[c][j], b = after.out[c][j], y = r.out[c][j];
                if (j < 1000 + waits)
                    ASSERT_EQ(y, a) << c << " " << j;
                else if (j >= 1000 + waits + fade)
                    ASSERT_EQ(y, b) << c << " " << j;
                else
                    ASSERT_TRUE(y >= std::min(a, b) && y <= std::max(a, b)) << c << " " << j;
            }
    }
}

TEST(DiAligner, ChangesDuringACrossfadeFollowOneAnother) {
    std::vector<double> in[3];
    fill(in, 4000, tonesUpTo(0.1, 9));
    const auto fade = static_cast<std::size_t>(std::lround(48000 * DiAligner::kCrossfadeSeconds));
    // Three changes within one crossfade: the last one is reached once the first has ended.
    const Aligned r = through(in, 48000, 64, 0, false, {{500, 20, false}, {510, 30, false}, {520, 40, false}});
    const Aligned last = through(in, 48000, 64, 40, false);
    for (std::size_t j = 500 + 2 * fade; j < 4000; ++j) ASSERT_EQ(r.out[2][j], last.out[2][j]) << j;
    EXPECT_NE(r.out[2][500 + fade + 10], last.out[2][500 + fade + 10]);  // still fading towards 40 there
}

// The fractional delay's kernels of every register width this processor has give the same
// bits, delays short (a short kernel) and long, both ways, turned over, in odd blocks that
// leave frames for the tail, and through a crossfade.
TEST(DiAligner, EveryKernelWidthGivesTheSameBits) {
    std::vector<double> in[3];
    fill(in, 3000, tonesUpTo(0.4, 17));
    const struct {
        double delay;
        bool invert;
        std::size_t block;
    } cases[] = {{0.3, false, 512}, {3.7, true, 77}, {72.6, false, 256}, {-41.25, true, 1000}, {300.5, false, 33}};
    int widths = 0;
    for (const auto& c : cases) {
        ASSERT_TRUE(align::useAlignmentKernels(2));
        const Aligned narrow = through(in, 48000, c.block, c.delay, c.invert, {{1500, c.delay + 10.3, !c.invert}});
        widths = 1;
        for (int width : {4, 8}) {
            if (!align::useAlignmentKernels(width)) continue;
            ++widths;
            const Aligned wide = through(in, 48000, c.block, c.delay, c.invert, {{1500, c.delay + 10.3, !c.invert}});
            for (int k = 0; k < 3; ++k)
                EXPECT_EQ(0, std::memcmp(wide.out[k].data(), narrow.out[k].data(), 3000 * sizeof(double)))
                    << "width " << width << ", delay " << c.delay << ", channel " << k;
        }
    }
    align::useAlignmentKernels(8) || align::useAlignmentKernels(4);
    std::printf("%d kernel widths compared\n", widths);
}

TEST(AlignmentArithmetic, SineBesselAndTransformAgreeWithTheLibraryAndADirectSum) {
    // Against the long double sine (pi x rounds less there); sinPi reduces the argument exactly.
    for (double x = -6.0; x <= 6.0; x += 0.0137)
        EXPECT_NEAR(align::sinPi(x), static_cast<double>(std::sin(std::numbers::pi_v<long double> * x)), 3e-16) << x;
    EXPECT_EQ(align::sinPi(3.0), 0.0);
    EXPECT_NEAR(align::sinPi(0.5), 1.0, 2.3e-16);
    for (double x : {0.0, 0.5, 2.0, 4.5, 9.0})
        EXPECT_NEAR(align::besselI0(x) / std::cyl_bessel_i(0.0, x), 1.0, 1e-14) << x;

    const std::size_t n = 64;
    std::vector<std::complex<double>> x(n), X(n);
    for (std::size_t k = 0; k < n; ++k) x[k] = {std::sin(0.3 * k) + 0.1 * k, std::cos(1.7 * k)};
    for (std::size_t k = 0; k < n; ++k)
        for (std::size_t j = 0; j < n; ++j)
            X[k] += x[j] * std::polar(1.0, -2 * std::numbers::pi * double(k * j % n) / double(n));
    align::Fft fft(n);
    std::vector<double> re(n), im(n);
    for (std::size_t k = 0; k < n; ++k) re[k] = x[k].real(), im[k] = x[k].imag();
    fft.forward(re.data(), im.data());
    for (std::size_t k = 0; k < n; ++k) EXPECT_LT(std::abs(std::complex<double>(re[k], im[k]) - X[k]), 1e-12) << k;
    fft.inverse(re.data(), im.data());
    for (std::size_t k = 0; k < n; ++k) EXPECT_LT(std::abs(std::complex<double>(re[k], im[k]) / double(n) - x[k]), 1e-14) << k;
    EXPECT_THROW(align::Fft(48), std::invalid_argument);
}

}  // namespace
