// The decoder's block routine against its own per-frame path: same output bits, same Samples
// and variables afterwards, for every kernel this processor runs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif

#include "effect/decoder_block.h"
#include "effect/decoder_parameters.h"
#include "effect/guitar_decoder.h"
#include "kernel_modes.h"

namespace {

using Setting = vintrel::SharedDouble TVintrelEffect::*;
const Setting kSettings[] = {
    &TVintrelEffect::MidTrimGain,  &TVintrelEffect::SideTrimGain, &TVintrelEffect::OutputTrimGain,
    &TVintrelEffect::WidthBalance, &TVintrelEffect::SwapSelect,   &TVintrelEffect::DiGain,
    &TVintrelEffect::DiPan,        &TVintrelEffect::DiMixAmount,  &TVintrelEffect::DiPin3Amount,
    &TVintrelEffect::AbSelect,     &TVintrelEffect::MsEnable,     &TVintrelEffect::DiEnable,
    &TVintrelEffect::MainTrimGain,
};
using Variable = double TVintrelEffect::*;
const Variable kVariables[] = {
    &TVintrelEffect::WidthCompensation, &TVintrelEffect::MidWeight,   &TVintrelEffect::DiLeft,
    &TVintrelEffect::DiRight,           &TVintrelEffect::MidSignal,   &TVintrelEffect::SideSignal,
    &TVintrelEffect::LeftSignal,        &TVintrelEffect::RightSignal, &TVintrelEffect::DiSignal,
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
        // Tiny normals, whose products with small gains are subnormal: where the processor
        // reads subnormal operands as zero, the guards must still keep them as frame by frame.
        case 7: return std::ldexp(std::uniform_real_distribution<double>(-2.0, 2.0)(rng), -1000);
        case 8: return std::ldexp(std::uniform_real_distribution<double>(-2.0, 2.0)(rng), -1018);
        default: return std::uniform_real_distribution<double>(-2.0, 2.0)(rng);
    }
}

// Slider values as the host sets them, or as odd chunks may load them.
void randomSettings(TVintrelEffect& fx, std::mt19937& rng) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (const decoder::Parameter& p : decoder::kParameters) {
        double v = p.min + unit(rng) * (p.max - p.min);
        if (p.isSwitch()) v = std::round(v);
        fx.Sliders[p.slider] = v;
    }
    switch (std::uniform_int_distribution<int>(0, 9)(rng)) {
        case 0: fx.Sliders[decoder::kSwap] = 0.6; break;  // both decoded channels on slot 0
        case 1: fx.Sliders[decoder::kSwap] = 2.0; break;  // slots 2 and 63
        case 2: fx.Sliders[decoder::kSwap] = -4.0; break;
        case 3: fx.Sliders[decoder::kStereoWidth] = std::nan(""); break;
        case 4: fx.Sliders[decoder::kDiLevel] = 300.0; break;  // gains that overflow
        case 5: fx.Sliders[decoder::kDiRouting] = 0.25; break;
        default: break;
    }
    fx.DoSlider();
}

// Where each output lands: buffer k of the outputs, or input k's own buffer (in place).
struct Layout {
    const char* name;
    bool inPlace;
    int bufferOf[3];
};
constexpr Layout kSeparate{"separate", false, {0, 1, 2}};
constexpr Layout kInPlace{"in place", true, {0, 1, 2}};
// Hosts may hand one buffer for several outputs; the lowest output's value must stay.
constexpr Layout kSharedOutputs[] = {
    {"outputs 1 and 2 shared", false, {0, 0, 2}},
    {"outputs 1 and 3 shared", false, {0, 1, 0}},
    {"outputs 2 and 3 shared", false, {0, 1, 1}},
    {"all outputs shared", false, {0, 0, 0}},
};

template <class Sample>
void compareBlocks(int width, const Layout& layout, std::mt19937& rng) {
    for (int frames = 0; frames <= 67; ++frames) {
        TVintrelEffect reference;
        reference.DoReset();
        randomSettings(reference, rng);
        if (&layout != &kSeparate && &layout != &kInPlace && std::uniform_int_distribution<int>(0, 1)(rng) == 1)
            reference.Sliders[decoder::kDiRouting] = 1, reference.DoSlider();  // the DI alone on output 3
        for (double& slot : reference.Samples) slot = randomInput(rng);
        TVintrelEffect blocked = reference;

        const auto n = static_cast<std::size_t>(frames);
        std::vector<Sample> in[3], outReference[3], outBlocked[3];
        for (int k = 0; k < 3; ++k) {
            for (int j = 0; j < frames; ++j) in[k].push_back(static_cast<Sample>(randomInput(rng)));
            outReference[k].assign(n, Sample(7));
            outBlocked[k] = layout.inPlace ? in[k] : std::vector<Sample>(n, Sample(7));
        }
        for (std::size_t j = 0; j < n; ++j) {
            for (int k = 2; k >= 0; --k) reference.Samples[static_cast<std::size_t>(k)] = static_cast<double>(in[k][j]);
            reference.DoSample();
            for (int k = 2; k >= 0; --k)
                outReference[layout.bufferOf[k]][j] = static_cast<Sample>(reference.Samples[static_cast<std::size_t>(k)]);
        }
        std::vector<Sample> inCopy[3] = {in[0], in[1], in[2]};
        Sample* inputs[3];
        Sample* outputs[3];
        for (int k = 0; k < 3; ++k) {
            inputs[k] = layout.inPlace ? outBlocked[k].data() : inCopy[k].data();
            outputs[k] = outBlocked[layout.bufferOf[k]].data();
        }
        ASSERT_EQ(blocked.DoSampleBlock(inputs, outputs, frames), frames);

        SCOPED_TRACE(::testing::Message() << "width " << width << ", " << frames << " frames, " << layout.name
                                          << ", swap " << blocked.SwapSelect);
        for (int k = 0; k < 3; ++k)
            for (std::size_t j = 0; j < n; ++j)
                ASSERT_TRUE(sameBits(static_cast<double>(outReference[k][j]), static_cast<double>(outBlocked[k][j])))
                    << "buffer " << k << " frame " << j << ": " << outReference[k][j] << " vs " << outBlocked[k][j];
        for (std::size_t slot = 0; slot < 64; ++slot)
            ASSERT_TRUE(sameBits(reference.Samples[slot], blocked.Samples[slot])) << "Samples[" << slot << "]";
        for (Variable v : kVariables) ASSERT_TRUE(sameBits(reference.*v, blocked.*v));
        for (Setting v : kSettings) ASSERT_TRUE(sameBits(reference.*v, blocked.*v));
    }
}


TEST(BlockRoutine, EveryKernelGivesThePerFrameBitsAndState) {
    std::mt19937 rng(8);
    const int tested = forEveryKernel([&](int width) {
        for (int round = 0; round < 6; ++round)
            for (const Layout* layout : {&kSeparate, &kInPlace}) {
                compareBlocks<float>(width, *layout, rng);
                compareBlocks<double>(width, *layout, rng);
            }
    });
    EXPECT_GE(tested, 1);
}

TEST(BlockRoutine, SharedOutputBuffersKeepTheLowestOutputAsFrameByFrame) {
    std::mt19937 rng(11);
    forEveryKernel([&](int width) {
        for (const Layout& layout : kSharedOutputs)
            for (int round = 0; round < 3; ++round) {
                compareBlocks<float>(width, layout, rng);
                compareBlocks<double>(width, layout, rng);
            }
    });
}

// A concrete case to read: output 1 and 3 on one buffer, the DI routed to pin 3. Frame by
// frame the decoded left is written last and stays.
TEST(BlockRoutine, OutputsOneAndThreeSharedKeepTheDecodedLeft) {
    forEveryKernel([&](int width) {
        TVintrelEffect fx;
        fx.DoReset();
        fx.Sliders[decoder::kDiLevel] = 0;  // DI level 0 dB
        fx.Sliders[decoder::kDiRouting] = 1;  // DI via pin 3
        fx.DoSlider();
        std::vector<float> mid(19, 0.25f), side(19, 0.0f), di(19, 0.5f), shared(19), right(19);
        float* inputs[3] = {mid.data(), side.data(), di.data()};
        float* outputs[3] = {shared.data(), right.data(), shared.data()};
        fx.DoSampleBlock(inputs, outputs, 19);
        for (float v : shared) ASSERT_EQ(v, 0.25f) << "width " << width;  // (mid + side) 2 / 2, not the DI
    });
}

TEST(BlockRoutine, EveryKernelMatchesFrameByFrameInEveryFloatingPointMode) {
    std::mt19937 rng(21);
    forEveryKernel([&](int width) {
        for (const FloatingPointMode& mode : kModes) {
            SCOPED_TRACE(mode.name);
            const unsigned before = readMode();
            {
                ScopedMode scoped(mode.bits);
                ASSERT_EQ(readMode() & kModeMask, mode.bits);
                for (int round = 0; round < 3; ++round)
                    for (const Layout* layout : {&kSeparate, &kInPlace, &kSharedOutputs[3]}) {
                        compareBlocks<float>(width, *layout, rng);
                        compareBlocks<double>(width, *layout, rng);
                    }
            }
            ASSERT_EQ(readMode(), before);
        }
    });
}

// A block split in parts, as a format splits one at its events: the parts before the last
// need not leave the last frame's state, and the whole gives the same outputs and Samples.
TEST(BlockRoutine, ABlockDecodedInPartsEndsAsTheWholeBlock) {
    std::mt19937 rng(8);
    forEveryKernel([&](int width) {
        TVintrelEffect whole, parts;
        whole.DoReset();
        randomSettings(whole, rng);
        parts = whole;
        std::vector<double> in[3], outWhole[3], outParts[3];
        for (int k = 0; k < 3; ++k) {
            for (int j = 0; j < 77; ++j) in[k].push_back(randomInput(rng));
            outWhole[k].assign(77, 0.0), outParts[k].assign(77, 0.0);
        }
        double* inputs[3] = {in[0].data(), in[1].data(), in[2].data()};
        double* wholeOut[3] = {outWhole[0].data(), outWhole[1].data(), outWhole[2].data()};
        whole.DoSampleBlock(inputs, wholeOut, 77);
        int done = 0;
        for (int end : {5, 32, 33, 77}) {
            double* from[3] = {inputs[0] + done, inputs[1] + done, inputs[2] + done};
            double* to[3] = {outParts[0].data() + done, outParts[1].data() + done, outParts[2].data() + done};
            parts.DoSampleBlock(from, to, end - done,
                                end < 77 ? TVintrelEffect::LastFrame::FollowedByMore : TVintrelEffect::LastFrame::Kept);
            done = end;
        }
        for (int k = 0; k < 3; ++k)
            for (int j = 0; j < 77; ++j)
                ASSERT_TRUE(sameBits(outWhole[k][j], outParts[k][j])) << "width " << width << " output " << k << " frame " << j;
        for (int slot = 0; slot < 64; ++slot)
            ASSERT_TRUE(sameBits(whole.Samples[static_cast<std::size_t>(slot)], parts.Samples[static_cast<std::size_t>(slot)]))
                << "width " << width << " Samples[" << slot << "]";
        EXPECT_TRUE(sameBits(whole.RightSignal, parts.RightSignal));
        EXPECT_TRUE(sameBits(whole.DiSignal, parts.DiSignal));
    });
}

TEST(BlockRoutine, UnsupportedWidthsAreRefused) {
    EXPECT_TRUE(useDecoderKernels(2));  // every processor has two doubles per register
    EXPECT_FALSE(useDecoderKernels(3));
    EXPECT_FALSE(useDecoderKernels(16));
    useDecoderKernels(8) || useDecoderKernels(4);
}

}  // namespace
