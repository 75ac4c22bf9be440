// The decoder's block routine against its own per-frame path: same output bits, same Samples
// and variables afterwards, for every kernel this processor runs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "effect/decoder_block.h"
#include "effect/guitar_decoder.h"

namespace {

using Variable = double TVintrelEffect::*;
const Variable kVariables[] = {
    &TVintrelEffect::MidTrimGain,  &TVintrelEffect::SideTrimGain,      &TVintrelEffect::OutputTrimGain,
    &TVintrelEffect::WidthBalance, &TVintrelEffect::SwapSelect,        &TVintrelEffect::DiGain,
    &TVintrelEffect::DiPan,        &TVintrelEffect::DiMixAmount,       &TVintrelEffect::DiPin3Amount,
    &TVintrelEffect::AbSelect,     &TVintrelEffect::MsEnable,          &TVintrelEffect::DiEnable,
    &TVintrelEffect::MainTrimGain, &TVintrelEffect::WidthCompensation, &TVintrelEffect::MidWeight,
    &TVintrelEffect::DiLeft,       &TVintrelEffect::DiRight,           &TVintrelEffect::MidSignal,
    &TVintrelEffect::SideSignal,   &TVintrelEffect::LeftSignal,        &TVintrelEffect::RightSignal,
    &TVintrelEffect::DiSignal,
};

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

double randomInput(std::mt19937& rng) {
    switch (std::uniform_int_distribution<int>(0, 15)(rng)) {
        case 0: return std::numeric_limits<double>::quiet_NaN();
        case 1: return std::numeric_limits<double>::infinity();
        case 2: return -std::numeric_limits<double>::infinity();
        case 3: return std::numeric_limits<double>::denorm_min() * 7;
        case 4: return -std::numeric_limits<float>::denorm_min();
        case 5: return -0.0;
        case 6: return 1e308;
        default: return std::uniform_real_distribution<double>(-2.0, 2.0)(rng);
    }
}

// Slider values as the host sets them, or as odd chunks may load them.
void randomSettings(TVintrelEffect& fx, std::mt19937& rng) {
    const double ranges[12][2] = {{0, 0},     {-12, 12},   {-12, 12}, {-150, 12}, {-120, 120}, {0, 1},
                                  {-150, 12}, {-120, 120}, {0, 1},    {0, 1},     {0, 2},      {-10, 10}};
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int k = 1; k <= 11; ++k) {
        double v = ranges[k][0] + unit(rng) * (ranges[k][1] - ranges[k][0]);
        if (ranges[k][1] - ranges[k][0] <= 2) v = std::round(v);
        fx.Sliders[static_cast<std::size_t>(k)] = v;
    }
    switch (std::uniform_int_distribution<int>(0, 9)(rng)) {
        case 0: fx.Sliders[5] = 0.6; break;  // both decoded channels on slot 0
        case 1: fx.Sliders[5] = 2.0; break;  // slots 2 and 63
        case 2: fx.Sliders[5] = -4.0; break;
        case 3: fx.Sliders[4] = std::nan(""); break;
        case 4: fx.Sliders[6] = 300.0; break;  // gains that overflow
        case 5: fx.Sliders[8] = 0.25; break;
        default: break;
    }
    fx.DoSlider();
}

template <class Sample>
void compareBlocks(int width, std::mt19937& rng) {
    for (int frames = 0; frames <= 67; ++frames) {
        for (bool inPlace : {false, true}) {
            TVintrelEffect reference;
            reference.DoReset();
            randomSettings(reference, rng);
            for (double& slot : reference.Samples) slot = randomInput(rng);
            TVintrelEffect blocked = reference;

            std::vector<Sample> in[3], outReference[3], outBlocked[3];
            for (int k = 0; k < 3; ++k) {
                for (int j = 0; j < frames; ++j) in[k].push_back(static_cast<Sample>(randomInput(rng)));
                outReference[k].assign(static_cast<std::size_t>(frames), Sample(7));
                outBlocked[k] = in[k];
                if (!inPlace) outBlocked[k].assign(static_cast<std::size_t>(frames), Sample(7));
            }
            for (int j = 0; j < frames; ++j) {
                for (int k = 2; k >= 0; --k)
                    reference.Samples[static_cast<std::size_t>(k)] =
                        static_cast<double>(in[k][static_cast<std::size_t>(j)]);
                reference.DoSample();
                for (int k = 2; k >= 0; --k)
                    outReference[k][static_cast<std::size_t>(j)] =
                        static_cast<Sample>(reference.Samples[static_cast<std::size_t>(k)]);
            }
            std::vector<Sample> inCopy[3] = {in[0], in[1], in[2]};
            Sample* inputs[3];
            Sample* outputs[3];
            for (int k = 0; k < 3; ++k) {
                inputs[k] = inPlace ? outBlocked[k].data() : inCopy[k].data();
                outputs[k] = outBlocked[k].data();
            }
            ASSERT_EQ(blocked.DoSampleBlock(inputs, outputs, frames), frames);

            SCOPED_TRACE(::testing::Message() << "width " << width << ", " << frames << " frames"
                                              << (inPlace ? ", in place" : "") << ", swap " << blocked.SwapSelect);
            for (int k = 0; k < 3; ++k)
                for (int j = 0; j < frames; ++j)
                    ASSERT_TRUE(sameBits(static_cast<double>(outReference[k][static_cast<std::size_t>(j)]),
                                         static_cast<double>(outBlocked[k][static_cast<std::size_t>(j)])))
                        << "channel " << k << " frame " << j << ": " << outReference[k][static_cast<std::size_t>(j)]
                        << " vs " << outBlocked[k][static_cast<std::size_t>(j)];
            for (std::size_t slot = 0; slot < 64; ++slot)
                ASSERT_TRUE(sameBits(reference.Samples[slot], blocked.Samples[slot])) << "Samples[" << slot << "]";
            for (Variable v : kVariables) ASSERT_TRUE(sameBits(reference.*v, blocked.*v));
        }
    }
}

TEST(BlockRoutine, EveryKernelGivesThePerFrameBitsAndState) {
    std::mt19937 rng(8);
    int tested = 0;
    for (int width : {2, 4, 8}) {
        if (!useDecoderKernels(width)) continue;
        ++tested;
        for (int round = 0; round < 12; ++round) {
            compareBlocks<float>(width, rng);
            compareBlocks<double>(width, rng);
        }
    }
    useDecoderKernels(8) || useDecoderKernels(4);  // back to the widest, as the module chose
    EXPECT_GE(tested, 1);
}

TEST(BlockRoutine, UnsupportedWidthsAreRefused) {
    EXPECT_TRUE(useDecoderKernels(2));  // every x86-64 processor has SSE2
    EXPECT_FALSE(useDecoderKernels(3));
    EXPECT_FALSE(useDecoderKernels(16));
    useDecoderKernels(8) || useDecoderKernels(4);
}

}  // namespace
