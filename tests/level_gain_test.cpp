// The decoder's fast level gains and its recompute of one changed slider: always the bits of
// the plain conversion and of a whole recompute, on one thread or two at once.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <random>

#include "effect/decibels.h"
#include "effect/decoder_parameters.h"
#include "effect/guitar_decoder.h"
#include "effect/level_gain.h"
#include "host/threads.h"

namespace {

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// What a host's normalised value becomes: the zero-anchored grid of the row's step.
double quantised(const decoder::Parameter& p, double x) {
    const double v = p.min + x * (p.max - p.min);
    return std::floor((v + p.step * 0.5) / p.step) * p.step;
}

TEST(LevelGain, EveryGridLevelOfEveryRowGivesThePlainConversionsBits) {
    vintrel::LevelGain gains;
    int onGrid = 0;
    for (const decoder::Parameter& p : decoder::kParameters) {
        if (p.kind != decoder::Kind::Level) continue;
        for (std::int32_t k = 0; k <= p.stepCount(); ++k) {
            const double level = quantised(p, static_cast<double>(static_cast<float>(double(k) / p.stepCount())));
            double fromTable = 0;
            ASSERT_TRUE(vintrel::gridGain(level, fromTable)) << p.name << " " << level;
            ASSERT_TRUE(sameBits(fromTable, vintrel::decibelsToGain(level))) << p.name << " " << level;
            ASSERT_TRUE(sameBits(gains.of(level), vintrel::decibelsToGain(level))) << p.name << " " << level;
            ++onGrid;
        }
    }
    EXPECT_EQ(onGrid, 241 + 241 + 1621 + 1621 + 201);
}

TEST(LevelGain, ValuesOffTheGridAreConvertedAndRemembered) {
    double gain = 0;
    // A state's float of -3.7, the next double past a grid value, and values outside every range.
    for (double off : {static_cast<double>(-3.7f), std::nextafter(-3.7, 0.0), -150.05, 12.1, 300.0, -1e300,
                       std::nan(""), double(INFINITY)}) {
        EXPECT_FALSE(vintrel::gridGain(off, gain)) << off;
    }
    vintrel::LevelGain gains;
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> level(-160.0f, 20.0f);
    for (int i = 0; i < 2000; ++i) {
        const double v = level(rng);
        const double want = vintrel::decibelsToGain(v);
        ASSERT_TRUE(sameBits(gains.of(v), want)) << v;
        ASSERT_TRUE(sameBits(gains.of(v), want)) << v << ", again";  // from the memo
    }
    EXPECT_TRUE(std::isnan(gains.of(std::nan(""))));
    EXPECT_EQ(gains.of(-INFINITY), 0.0);
}

// Two threads convert through one memo at once, as a state load does beside the audio
// thread's changes: neither ever gets another level's gain.
TEST(LevelGain, TwoThreadsAtOnceNeverGetAnotherLevelsGain) {
    vintrel::LevelGain gains;
    std::atomic<int> wrong{0};
    // The same few levels off the grid (so through the memo), in another order on each thread.
    double levels[3];
    std::mt19937 rng(5);
    for (double& v : levels) v = std::uniform_real_distribution<float>(-60.0f, 12.0f)(rng);
    auto work = [&](int stride) {
        for (int i = 0; i < 300000; ++i) {
            const double v = levels[(i * stride) % 3];
            if (!sameBits(gains.of(v), vintrel::decibelsToGain(v))) ++wrong;
        }
    };
    host::Thread other([&] { work(1); });
    work(2);
    other.join();
    EXPECT_EQ(wrong.load(), 0);
}

// The variables a whole recompute derives, to compare.
std::vector<double> derived(const TVintrelEffect& fx) {
    return {fx.MidTrimGain, fx.SideTrimGain, fx.OutputTrimGain, fx.WidthBalance, fx.SwapSelect,
            fx.DiGain,      fx.DiPan,        fx.DiMixAmount,    fx.DiPin3Amount, fx.AbSelect,
            fx.MsEnable,    fx.DiEnable,     fx.MainTrimGain};
}

TEST(SliderChange, OneChangedSliderGivesWhatAWholeRecomputeGives) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::uniform_int_distribution<std::size_t> pick(0, decoder::kParameters.size() - 1);
    TVintrelEffect fx;
    fx.DoReset();
    for (int round = 0; round < 3000; ++round) {
        const decoder::Parameter& p = decoder::kParameters[pick(rng)];
        fx.SetNormalized(static_cast<std::int32_t>(p.slider - 1), unit(rng));
        TVintrelEffect whole;
        whole.DoReset();
        for (const decoder::Parameter& q : decoder::kParameters) whole.Sliders[q.slider] = fx.Sliders[q.slider].load();
        whole.DoSlider();
        const auto got = derived(fx), want = derived(whole);
        for (std::size_t i = 0; i < got.size(); ++i)
            ASSERT_TRUE(sameBits(got[i], want[i])) << "round " << round << ", variable " << i << " after " << p.name;
    }
}

TEST(SliderChange, AfterOpenTheFirstChangeDerivesEverySlider) {
    TVintrelEffect fx;
    fx.DoReset();  // every variable 0 until the next recompute
    fx.SetNormalized(3, 0.75);  // stereo width alone
    EXPECT_EQ(fx.MidTrimGain, 1.0);
    EXPECT_EQ(fx.DiGain, vintrel::decibelsToGain(-150.0));
    EXPECT_EQ(fx.MsEnable, 1.0);
    EXPECT_EQ(fx.MainTrimGain, 1.0);
    fx.DoReset();  // and again after the next open
    EXPECT_EQ(fx.MainTrimGain, 0.0);
    fx.SetNormalized(0, 0.25);
    EXPECT_EQ(fx.MainTrimGain, 1.0);
    EXPECT_EQ(fx.WidthBalance, 0.5 + 60.0 / 240);
}

}  // namespace
