// The DI's tone match: a curve learned from a take whose microphone hears the DI through a
// known response, the filter fitted to it, and what the two together do to the DI's bands.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "align/di_aligner.h"
#include "align/di_correlator.h"
#include "align/fft.h"
#include "align/tone_match.h"
#include "tests/room_take.h"
#include "tests/tone_take.h"

namespace {

using namespace tonetake;

align::ToneCurve learned(const std::vector<double>& mic, const std::vector<double>& di, int rate) {
    align::DiCorrelator correlator(rate, 1);
    const double* channels[2] = {mic.data(), di.data()};
    correlator.add(channels, mic.size());
    return align::learnToneMatch(correlator.spectra(0));
}

std::vector<double> matched(std::vector<double> di, const align::ToneCurve& curve, int rate) {
    align::ToneFilter filter;
    filter.set(align::matchSections(curve, 1.0, rate));
    filter.process(di.data(), di.size());
    return di;
}

// A take at each rate whose mid microphone hears the DI through the known response, late, in a
// room and with noise: the matched DI's third-octave bands follow the microphone's, and its
// level is what it was.
TEST(ToneMatch, ADiMatchedToAMicrophoneThroughAKnownResponseHasItsBands) {
    for (int rate : {44100, 48000, 96000}) {
        const auto frames = static_cast<std::size_t>(10.0 * rate);
        const std::vector<double> di = synthetic::pluckedNotes(rate, frames, 3);
        std::vector<double> mic = synthetic::through(shaped(di, rate, micResponseDb),
                                                     synthetic::Room::typical(0.0015 * rate, 0.5, rate, 11));
        synthetic::Noise noise(5);
        for (double& v : mic) v += 1e-3 * noise();
        const align::ToneCurve curve = learned(mic, di, rate);
        ASSERT_TRUE(curve.learned()) << rate;
        const std::vector<double> after = matched(di, curve, rate);
        EXPECT_NEAR(rmsDb(after), rmsDb(di), 0.5) << rate;
        // Band by band, the matched DI against the microphone, the overall offset aside (the
        // match keeps the DI's level, the microphone's is its own): within a dB in every band.
        const std::vector<double> a = thirdOctaves(after, rate), m = thirdOctaves(mic, rate);
        double offset = 0;
        for (std::size_t b = 0; b < a.size(); ++b) offset += (a[b] - m[b]) / static_cast<double>(a.size());
        const std::vector<double> before = thirdOctaves(di, rate);
        double worstBefore = 0, squares = 0;
        for (std::size_t b = 0; b < a.size(); ++b) {
            EXPECT_NEAR(a[b] - m[b], offset, 1.0) << rate << " Hz, band " << b;
            squares += (a[b] - m[b] - offset) * (a[b] - m[b] - offset);
            worstBefore = std::max(worstBefore, std::abs(before[b] - m[b] - offset));
        }
        EXPECT_LT(std::sqrt(squares / static_cast<double>(a.size())), 0.5) << rate;
        EXPECT_GT(worstBefore, 6.0) << "the unmatched DI should differ: the take tests nothing";
        // The microphone's own level is no part of the match: 26 dB quieter, the same curve.
        if (rate != 48000) continue;
        std::vector<double> quiet = mic;
        for (double& v : quiet) v *= 0.05;
        const align::ToneCurve same = learned(quiet, di, rate);
        for (std::size_t k = 0; k < curve.db.size(); ++k) EXPECT_NEAR(same.db[k], curve.db[k], 1e-6) << rate << " " << k;
    }
}

// A DI and a microphone that share nothing: every band held, the curve flat, and the filter the
// identity to the bit.
TEST(ToneMatch, ADiAndAMicrophoneThatShareNothingGiveAFlatCurve) {
    const int rate = 48000;
    const auto frames = static_cast<std::size_t>(10.0 * rate);
    const std::vector<double> di = synthetic::pluckedNotes(rate, frames, 3), other = synthetic::pluckedNotes(rate, frames, 9);
    const align::ToneCurve curve = learned(other, di, rate);
    EXPECT_FALSE(curve.learned());
    EXPECT_TRUE(curve.flat());
    EXPECT_EQ(matched(di, curve, rate), di);
}

// The fit, and its sections: a curve at the limits, a curve of one bump, each at three rates,
// realised within a dB at every point, every section's poles and zeros inside the unit circle
// (stable, and minimum phase: no latency), and nothing asked for at an amount of 0.
TEST(ToneMatch, TheSectionsFollowTheCurveAndAreMinimumPhase) {
    align::ToneCurve edges, bump;
    for (int k = 0; k < align::kMatchPoints; ++k) {
        edges.db[static_cast<std::size_t>(k)] = k < align::kMatchPoints / 2 ? 18.0 : -18.0;
        const double octaves = std::log2(align::matchFrequency(k) / 400.0);
        bump.db[static_cast<std::size_t>(k)] = 9.0 * std::exp(-octaves * octaves);
    }
    for (int rate : {44100, 48000, 96000}) {
        for (double amount : {1.0, 0.5}) {
            const align::Sections s = align::matchSections(bump, amount, rate);
            for (int k = 0; k < align::kMatchPoints; ++k)
                EXPECT_NEAR(align::sectionsDb(s, align::matchFrequency(k), rate), amount * bump.db[static_cast<std::size_t>(k)], 0.5)
                    << rate << " " << amount << " " << k;
        }
        const align::Sections s = align::matchSections(edges, 1.0, rate);
        // a step of 36 dB is beyond any smooth filter at the step itself; away from it the fit
        // holds, and at the lowest point, the low shelf's corner, +18 dB is reached within 1.75
        for (int k : {0, 8, 16, 36, 44, 52})
            EXPECT_NEAR(align::sectionsDb(s, align::matchFrequency(k), rate), edges.db[static_cast<std::size_t>(k)], k == 0 ? 1.75 : 1.5)
                << rate << " " << k;
        for (const align::Section& c : s) {
            EXPECT_LT(std::abs(c.a2), 1.0);
            EXPECT_LT(std::abs(c.a1), 1.0 + c.a2);
            const double z1 = c.b1 / c.b0, z2 = c.b2 / c.b0;
            EXPECT_LT(std::abs(z2), 1.0);
            EXPECT_LT(std::abs(z1), 1.0 + z2);
        }
        const align::Sections none = align::matchSections(bump, 0.0, rate);
        for (const align::Section& c : none) EXPECT_EQ(c.b0, 1.0);
    }
}

// Rates hosts may give that the sections were not made for: those the rate cannot carry do
// nothing, and the rest stay stable; the filter's output stays finite.
TEST(ToneMatch, AnyRateGivesStableSectionsAndFiniteOutput) {
    align::ToneCurve bump;
    for (int k = 0; k < align::kMatchPoints; ++k) bump.db[static_cast<std::size_t>(k)] = 12.0 * std::sin(0.4 * k);
    for (double rate : {1.0, 100.0, 8000.0, 22050.0, 192000.0, 1e7, 1e300}) {
        const align::Sections s = align::matchSections(bump, 1.0, rate);
        for (const align::Section& c : s) {
            ASSERT_TRUE(std::isfinite(c.b0) && std::isfinite(c.b1) && std::isfinite(c.b2) && std::isfinite(c.a1) && std::isfinite(c.a2)) << rate;
            EXPECT_LT(std::abs(c.a2), 1.0) << rate;
        }
        align::ToneFilter filter;
        filter.set(s);
        std::vector<double> x(4096);
        for (std::size_t j = 0; j < x.size(); ++j) x[j] = std::sin(0.3 * static_cast<double>(j));
        filter.process(x.data(), x.size());
        for (double v : x) ASSERT_TRUE(std::isfinite(v) && std::abs(v) < 100.0) << rate;
    }
}

// The filter's every kernel width and every block length give the bits of one sample through
// every section at a time, its state carried from block to block; in both precisions.
TEST(ToneMatch, EveryKernelWidthAndBlockLengthGivesTheSameBits) {
    align::ToneCurve curve;
    for (int k = 0; k < align::kMatchPoints; ++k) curve.db[static_cast<std::size_t>(k)] = 9.0 * std::sin(0.37 * k);
    const align::Sections sections = align::matchSections(curve, 0.8, 48000);
    const std::vector<double> x = synthetic::pluckedNotes(48000, 6000, 4);
    align::ToneFilter one;
    one.set(sections);
    std::vector<double> want(x.size());
    for (std::size_t j = 0; j < x.size(); ++j) want[j] = one.step(x[j]);
    for (int width : {2, 4, 8}) {
        if (!align::useAlignmentKernels(width)) continue;  // this processor lacks the width
        for (std::size_t block : {1, 5, 31, 32, 33, 64, 512, 700}) {
            align::ToneFilter filter;
            filter.set(sections);
            std::vector<double> y = x;
            std::vector<float> f(x.begin(), x.end()), g(f);
            for (std::size_t at = 0; at < y.size(); at += block) filter.process(y.data() + at, std::min(block, y.size() - at));
            EXPECT_EQ(y, want) << "width " << width << ", blocks of " << block;
            align::ToneFilter single, many;
            single.set(sections), many.set(sections);
            single.process(f.data(), f.size());
            for (std::size_t at = 0; at < g.size(); at += block) many.process(g.data() + at, std::min(block, g.size() - at));
            EXPECT_EQ(f, g) << "floats, width " << width << ", blocks of " << block;
        }
    }
    for (int width : {8, 4, 2})
        if (align::useAlignmentKernels(width)) break;  // the module's choice again
}

}  // namespace
