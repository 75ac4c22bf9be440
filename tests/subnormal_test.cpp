// The formats' shared path, in-process: no subnormal number in or out on any kernel width or
// flush mode, and subnormal inputs decoded as the zeros they are flushed to.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>
#include "entry/embedded_decoder.h"
#include "kernel_modes.h"

namespace {


// The formats' shared path lets no subnormal number out, on every kernel width, with or without
// the host's flush modes: subnormal inputs, tiny normal ones through the smallest gains (the DI
// level's -150 dB default among them), and a loud block's fractional DI delay dying away.
template <class Sample>
bool anySubnormal(const std::vector<Sample>& v) {
    return std::any_of(v.begin(), v.end(), [](Sample x) { return x != 0 && std::fabs(x) < std::numeric_limits<Sample>::min(); });
}

template <class Sample>
void noSubnormalLeaves(const char* mode, int width) {
    constexpr Sample tiny = std::numeric_limits<Sample>::min();
    struct Case {
        const char* what;
        std::vector<std::pair<std::int32_t, double>> settings;
        Sample first, rest;  // the first block's samples are scaled by `first`, the others by `rest`
    };
    const Case cases[] = {
        {"subnormal inputs", {{vintrel::kDiDelay, 0.37}}, tiny / 8, tiny / 3},
        {"tiny inputs through -150 dB of DI and output trim", {{2, -150}, {7, 1}}, tiny * 9, tiny * 9},
        {"tiny inputs, the DI at its default -150 dB", {{3, 100}}, tiny * 40, tiny * 40},
        {"a loud block, then silence, through a fractional DI delay", {{5, 0}, {7, 1}, {vintrel::kDiDelay, 1.23}}, 0.9, 0},
        {"a loud block, then subnormals, bypassed", {{vintrel::kBypass, 1}}, 0.9, tiny / 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.what << ", " << mode << ", width " << width);
        auto d = vintrel::EmbeddedDecoder::create(48000.0, 512);
        ASSERT_TRUE(d);
        for (const auto& [parameter, value] : c.settings) d->setValue(parameter, value);
        d->resume();
        std::vector<Sample> in[3], out[3];
        Sample* i[3];
        Sample* o[3];
        for (int k = 0; k < 3; ++k) in[k].resize(512), out[k].resize(512), i[k] = in[k].data(), o[k] = out[k].data();
        for (int block = 0; block < 8; ++block) {
            for (int k = 0; k < 3; ++k)
                for (int j = 0; j < 512; ++j)
                    in[k][j] = static_cast<Sample>(std::sin(0.05 * (j + 512 * block) * (k + 1)) * (block == 0 ? c.first : c.rest));
            d->processSpan(i, o, 0, 100, 512, nullptr);  // split as a host's change splits a block
            d->processSpan(i, o, 100, 512, 512, nullptr);
            for (int k = 0; k < 3; ++k) ASSERT_FALSE(anySubnormal(out[k])) << "block " << block << ", output " << k + 1;
        }
    }
}

TEST(FormatsPath, NoSubnormalNumberLeavesOnAnyKernelWidthOrFlushMode) {
    for (const FloatingPointMode& m : kModes) {
        ScopedMode scoped(m.bits);
        EXPECT_GE(forEveryKernel([&](int width) {
                      noSubnormalLeaves<float>(m.name, width);
                      noSubnormalLeaves<double>(m.name, width);
                  }),
                  1);
    }
}

// Subnormal inputs are decoded as zeros of their sign: the same bits as those zeros give.
TEST(FormatsPath, SubnormalInputsDecodeAsTheirZeros) {
    for (const bool doubles : {false, true}) {
        SCOPED_TRACE(doubles ? "double" : "float");
        auto a = vintrel::EmbeddedDecoder::create(48000.0, 512), b = vintrel::EmbeddedDecoder::create(48000.0, 512);
        for (auto* d : {a.get(), b.get()}) d->setValue(5, -6), d->setValue(vintrel::kDiDelay, 0.5), d->resume();
        auto run = [&](auto sample) {
            using Sample = decltype(sample);
            constexpr Sample tiny = std::numeric_limits<Sample>::min();
            std::vector<Sample> in[3], zeroed[3], out[3], expected[3];
            Sample *i[3], *z[3], *o[3], *e[3];
            for (int k = 0; k < 3; ++k) {
                for (int j = 0; j < 300; ++j) {
                    const Sample v = j % 7 == 3 ? (j % 2 ? tiny / 4 : -tiny / 4) : static_cast<Sample>(std::sin(0.1 * j * (k + 1)));
                    in[k].push_back(v);
                    zeroed[k].push_back(j % 7 == 3 ? std::copysign(Sample(0), v) : v);
                }
                out[k].resize(300), expected[k].resize(300);
                i[k] = in[k].data(), z[k] = zeroed[k].data(), o[k] = out[k].data(), e[k] = expected[k].data();
            }
            a->processSpan(i, o, 0, 300, 300, nullptr);
            b->processSpan(z, e, 0, 300, 300, nullptr);
            for (int k = 0; k < 3; ++k) EXPECT_EQ(0, std::memcmp(out[k].data(), expected[k].data(), 300 * sizeof(Sample)));
        };
        if (doubles)
            run(0.0);
        else
            run(0.0f);
    }
}

}  // namespace
