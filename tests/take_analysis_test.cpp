// The take analysis's pieces on signals with known answers: the windowed sinc that moves the
// DI between samples, and the DI's delay and polarity found by cross-correlation.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "align/di_correlator.h"
#include "align/sinc.h"
#include "tests/room_take.h"
#include "tests/synthetic_take.h"
#include "tools/take/loudness.h"

namespace {

// The largest error of the 64-tap sinc on a full-scale sine of `cycles` per sample moved by
// `fraction`, through the delay taps and through reading between samples.
double worstDelayError(double cycles, double fraction) {
    auto sine = [&](double n) { return std::sin(2 * std::numbers::pi * cycles * n + 0.3); };
    std::vector<double> x(2048);
    for (std::size_t n = 0; n < x.size(); ++n) x[n] = sine(static_cast<double>(n));
    const align::FractionTaps t = align::fractionTaps(fraction);
    double worst = 0.0;
    for (std::size_t n = 100; n < x.size() - 100; ++n) {
        double y = 0.0;
        for (std::size_t j = 0; j < t.taps.size(); ++j) y += t.taps[j] * x[n - j - static_cast<std::size_t>(t.firstTap())];
        const double exact = sine(static_cast<double>(n) - fraction);
        const double between = align::valueBetween(x.data(), static_cast<std::ptrdiff_t>(x.size()), n - fraction);
        worst = std::max({worst, std::abs(y - exact), std::abs(between - exact)});
    }
    return worst;
}

TEST(WindowedSinc, MovesContentUpTo045OfTheRateWithin90DbOfFullScale) {
    const double within = std::pow(10.0, -90.0 / 20.0);
    for (double cycles : {0.001, 0.02, 0.1, 0.2, 0.3, 0.35, 0.4, 0.42, 0.44, 0.45})
        for (double fraction : {0.01, 0.25, 0.5, 0.73, 0.99})
            EXPECT_LT(worstDelayError(cycles, fraction), within) << cycles << " of the rate, fraction " << fraction;
    // Nearer half the rate the kernel no longer passes the content, as documented.
    EXPECT_GT(worstDelayError(0.48, 0.5), 0.01);
}

TEST(WindowedSinc, PassesAConstantAndIsExactAtWholeSamples) {
    for (double fraction : {0.1, 0.5, 0.9}) {
        double sum = 0.0;
        for (double tap : align::fractionTaps(fraction).taps) sum += tap;
        EXPECT_NEAR(sum, 1.0, 1e-15);
    }
    const std::vector<double> x = {0.5, -0.25, 1.0, 0.125};
    for (int n = 0; n < 4; ++n) EXPECT_DOUBLE_EQ(align::valueBetween(x.data(), 4, n), x[static_cast<std::size_t>(n)]);
}

struct Case {
    int rate;
    double delay, polarity;
};

align::DiEstimate estimateOf(const std::vector<float>& take, int rate, std::size_t block = 1000) {
    align::DiCorrelator correlator(rate, 2);
    const std::size_t frames = take.size() / 3;
    std::vector<float> mid(block), side(block), di(block);
    for (std::size_t at = 0; at < frames; at += block) {
        const std::size_t n = std::min(block, frames - at);
        for (std::size_t j = 0; j < n; ++j) {
            mid[j] = take[3 * (at + j)];
            side[j] = take[3 * (at + j) + 1];
            di[j] = take[3 * (at + j) + 2];
        }
        const float* const channels[] = {mid.data(), side.data(), di.data()};
        correlator.add(channels, n);
    }
    return correlator.finish()[0];
}

TEST(DiCorrelator, FindsWholeAndFractionalDelaysBothWaysWithinFiveHundredthsOfASample) {
    const Case cases[] = {{48000, 0.0, 1},      {48000, 68.16, 1},  {48000, -7.0, 1},   {48000, 12.5, -1},
                          {48000, -200.73, 1},  {48000, 3.25, -1},  {44100, 131.9, 1},  {44100, -0.4, -1},
                          {96000, 287.61, 1},   {96000, -950.2, -1}};
    double worst = 0;
    for (const Case& c : cases) {
        const align::DiEstimate e = estimateOf(synthetic::take(c.rate, 1.5, c.delay, c.polarity), c.rate);
        ASSERT_TRUE(e.reliable()) << c.rate << " Hz, " << c.delay << ": correlation " << e.correlation;
        EXPECT_NEAR(e.delaySamples, c.delay, 0.05) << c.rate << " Hz";
        EXPECT_EQ(e.inverted(), c.polarity < 0) << c.rate << " Hz, " << c.delay;
        EXPECT_GT(std::abs(e.correlation), 0.8);
        EXPECT_FALSE(e.atEdge);
        worst = std::max(worst, std::abs(e.delaySamples - c.delay));
    }
    std::printf("on clean takes, the worst estimate is %.4f samples from the delay\n", worst);
}

// Takes recorded in a room: four early reflections on the mid microphone within 0.85 to 2.9 ms of
// the direct sound (the strongest at half its level, or at its level), a diffuse tail to 40 ms
// and noise; a reflection stronger than the direct sound on the side microphone. The estimate
// places the direct path, at every rate, either polarity, from 0.4 to 300 samples either way.
TEST(DiCorrelator, InARoomTheDirectPathIsFoundWithinFiveHundredthsOfASample) {
    const Case cases[] = {{48000, 62.37, 1},  {48000, 23.71, -1}, {48000, 0.4, 1},   {48000, -7.6, -1},
                          {48000, 300.0, 1},  {48000, -251.3, 1}, {44100, 131.9, -1}, {44100, -0.4, 1},
                          {44100, 57.25, 1},  {96000, 124.74, 1}, {96000, -300.5, -1}, {96000, 3.3, 1}};
    double worst = 0;
    for (const double strongest : {0.5, 0.7})
        for (const Case& c : cases) {
            SCOPED_TRACE(std::to_string(c.rate) + " Hz, " + std::to_string(c.delay) + " samples, reflection at " +
                         std::to_string(strongest));
            const align::DiEstimate e = estimateOf(synthetic::roomTake(c.rate, 3.0, c.delay, c.polarity, 3, strongest), c.rate);
            ASSERT_TRUE(e.reliable()) << "correlation " << e.correlation;
            EXPECT_NEAR(e.delaySamples, c.delay, 0.05);
            EXPECT_EQ(e.inverted(), c.polarity < 0);
            worst = std::max(worst, std::abs(e.delaySamples - c.delay));
        }
    std::printf("in a room, the worst estimate is %.4f samples from the direct path\n", worst);
}

TEST(DiCorrelator, TheBlocksItIsGivenDoNotChangeTheAnswer) {
    const std::vector<float> take = synthetic::take(48000, 0.7, 21.3);
    const align::DiEstimate whole = estimateOf(take, 48000, take.size() / 3), bySamples = estimateOf(take, 48000, 1),
                           byBlocks = estimateOf(take, 48000, 4093);
    EXPECT_EQ(whole.delaySamples, bySamples.delaySamples);
    EXPECT_EQ(whole.delaySamples, byBlocks.delaySamples);
    EXPECT_EQ(whole.curve, byBlocks.curve);
}

TEST(DiCorrelator, SaysWhenThereIsNothingToFind) {
    // Unrelated: the DI from other strings than the microphones heard.
    std::vector<float> unrelated = synthetic::take(48000, 2.0, 30);
    const std::vector<float> other = synthetic::take(48000, 2.0, 0, 1, 99);
    for (std::size_t j = 2; j < unrelated.size(); j += 3) unrelated[j] = other[j];
    const align::DiEstimate e = estimateOf(unrelated, 48000);
    EXPECT_FALSE(e.reliable());
    EXPECT_LT(std::abs(e.correlation), align::kReliableCorrelation);

    // A silent DI.
    std::vector<float> silent = synthetic::take(48000, 0.5, 30);
    for (std::size_t j = 2; j < silent.size(); j += 3) silent[j] = 0.0f;
    EXPECT_TRUE(estimateOf(silent, 48000).silent);
    EXPECT_FALSE(estimateOf(silent, 48000).reliable());

    // A DI 12 ms away, past the window: a slowly varying signal, whose correlation falls away
    // from its true lag, peaks at the window's edge.
    const int rate = 48000, delay = 576;
    std::vector<float> far(3 * rate);
    synthetic::Noise noise(5);
    double smooth = 0.0;
    std::vector<double> di(static_cast<std::size_t>(rate));
    for (double& v : di) v = smooth += 0.01 * (noise() - smooth);
    for (std::size_t j = 0; j < di.size(); ++j) {
        far[3 * j] = static_cast<float>(j >= delay ? 5 * di[j - delay] : 0.0);
        far[3 * j + 2] = static_cast<float>(5 * di[j]);
    }
    const align::DiEstimate edge = estimateOf(far, rate);
    EXPECT_TRUE(edge.atEdge);
    EXPECT_FALSE(edge.reliable());
    EXPECT_EQ(edge.delaySamples, 480);
}

TEST(Loudness, AFullScaleSineAt997HzReadsAsTheStandardSays) {
    // BS.1770: a 0 dBFS 997 Hz sine in both channels is -3.01 LUFS per channel, summed: 0.0 LUFS.
    const int rate = 48000;
    take::LoudnessThread loudness(2, rate);
    std::vector<double> block(2 * 4800);
    for (int second = 0, n = 0; second < 100; ++second) {
        for (std::size_t j = 0; j < 4800; ++j, ++n)
            block[2 * j] = block[2 * j + 1] = std::sin(2 * std::numbers::pi * 997.0 * n / rate);
        loudness.add(block.data(), 4800);
    }
    const take::LoudnessResult r = loudness.finish();
    EXPECT_NEAR(r.integratedLufs, 0.0, 0.05);
    EXPECT_NEAR(r.rangeLu, 0.0, 0.05);
    EXPECT_NEAR(r.truePeakDbtp, 0.0, 0.05);
}

}  // namespace
