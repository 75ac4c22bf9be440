// The meters' measurement and its way to the editor: every processor's kernel gives the bits of
// one order of additions (so the editor's pictures are the same everywhere), peaks and overload
// marks are exact, and nothing measured is lost while the editor is behind.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <atomic>
#include <thread>
#endif

#include "editor/meter_kernels.h"
#include "editor/meters.h"

namespace {

// The order every kernel keeps, one lane at a time: sample j into lane j % lanes, the lanes
// folded in halves, the samples short of a whole row added last.
template <class Sample>
void squaresInOrder(const Sample* x, std::int32_t frames, Sample& largest, Sample& sum) {
    constexpr int kLanes = editor::kLaneBytes / static_cast<int>(sizeof(Sample));
    Sample sums[kLanes] = {}, tops[kLanes] = {};
    std::int32_t j = 0;
    for (; j + kLanes <= frames; j += kLanes)
        for (int l = 0; l < kLanes; ++l) {
            const Sample q = x[j + l] * x[j + l];
            sums[l] += q;
            if (q > tops[l]) tops[l] = q;
        }
    for (int half = kLanes / 2; half >= 1; half /= 2)
        for (int l = 0; l < half; ++l) {
            sums[l] += sums[l + half];
            if (tops[l + half] > tops[l]) tops[l] = tops[l + half];
        }
    for (; j < frames; ++j) {
        const Sample q = x[j] * x[j];
        sums[0] += q;
        if (q > tops[0]) tops[0] = q;
    }
    largest = tops[0], sum = sums[0];
}

template <class Sample>
using Kernel = void (*)(const Sample* const*, std::int32_t, Sample*, Sample*);

template <class Sample>
using Points = void (*)(const Sample*, const Sample*, std::size_t, float*);

template <class Sample>
struct Variant {
    const char* name;
    Kernel<Sample> kernel;
    Points<Sample> points;
};

// The kernels this processor can run.
template <class Sample>
std::vector<Variant<Sample>> runnable() {
    std::vector<Variant<Sample>> variants{{"16-byte registers", editor::squares128, editor::points128}};
#if defined(__x86_64__) || defined(__i386__)
    if (__builtin_cpu_supports("avx2")) variants.push_back({"AVX2", editor::squaresAvx2, editor::pointsAvx2});
    if (__builtin_cpu_supports("avx512f"))
        variants.push_back({"AVX-512", editor::squaresAvx512, editor::pointsAvx512});
#endif
    return variants;
}

template <class Sample>
bool sameBits(Sample a, Sample b) {
    return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

// Signals with what a host may hand over: music-like values, large and tiny ones, a square
// that overflows, NaNs and infinities, at any alignment.
template <class Sample>
std::vector<std::vector<Sample>> signals() {
    const std::size_t n = 4810;
    std::vector<std::vector<Sample>> all(5, std::vector<Sample>(n));
    std::uint32_t seed = 12345;
    auto noise = [&seed] { return (seed = seed * 1664525u + 1013904223u) / 4294967296.0 * 4.0 - 2.0; };
    for (std::size_t j = 0; j < n; ++j) {
        all[0][j] = static_cast<Sample>(0.7 * std::sin(0.013 * static_cast<double>(j)));
        all[1][j] = static_cast<Sample>(noise());
        all[2][j] = static_cast<Sample>(noise() * (j % 3 == 0 ? 1e-30 : j % 3 == 1 ? 3e19 : 1.0));
        all[3][j] = static_cast<Sample>(noise());
        all[4][j] = static_cast<Sample>(noise());
    }
    all[2][17] = Sample(-0.0), all[2][18] = std::numeric_limits<Sample>::denorm_min();
    all[3][77] = all[3][300] = std::numeric_limits<Sample>::quiet_NaN();
    all[4][5] = std::numeric_limits<Sample>::infinity(), all[4][700] = -std::numeric_limits<Sample>::infinity();
    return all;
}

template <class Sample>
void everyKernelKeepsTheOrder() {
    const auto variants = runnable<Sample>();
    const auto all = signals<Sample>();
    std::string ran;
    for (const auto& v : variants) ran += std::string(v.name) + " ";
    SCOPED_TRACE("kernels compared: " + ran);
    for (const auto& variant : variants)
        for (std::size_t s = 0; s < all.size(); ++s)
            for (std::int32_t frames : {0, 1, 5, 31, 32, 33, 63, 64, 100, 511, 512, 513, 1000, 4800}) {
                // Three channels at different alignments, as a host's buffers may be.
                const Sample* x[3] = {all[s].data(), all[s].data() + 1, all[s].data() + 3};
                Sample largest[3], sum[3];
                variant.kernel(x, frames, largest, sum);
                for (int c = 0; c < 3; ++c) {
                    Sample l, q;
                    squaresInOrder(x[c], frames, l, q);
                    EXPECT_TRUE(sameBits(largest[c], l)) << variant.name << " signal " << s << " frames " << frames;
                    EXPECT_TRUE(sameBits(sum[c], q)) << variant.name << " signal " << s << " frames " << frames;
                }
            }
}

// The scope's points: every fourth frame of each side, rounded to float, whatever the count.
template <class Sample>
void everyKernelTakesEveryFourthFrame() {
    const auto all = signals<Sample>();
    for (const auto& variant : runnable<Sample>())
        for (std::size_t points : {0, 1, 15, 16, 17, 64, 128, 1201}) {
            std::vector<float> to(2 * points + 2, -7.0f);
            variant.points(all[1].data() + 1, all[2].data(), points, to.data());
            for (std::size_t i = 0; i < points; ++i) {
                EXPECT_EQ(to[2 * i], static_cast<float>(all[1][1 + 4 * i])) << variant.name << " " << points << " " << i;
                EXPECT_EQ(to[2 * i + 1], static_cast<float>(all[2][4 * i])) << variant.name << " " << points << " " << i;
            }
            EXPECT_EQ(to[2 * points], -7.0f) << variant.name << " wrote past " << points << " points";
        }
}

TEST(MeterKernels, EveryProcessorsKernelsGiveTheSameBits) {
    everyKernelKeepsTheOrder<float>();
    everyKernelKeepsTheOrder<double>();
    everyKernelTakesEveryFourthFrame<float>();
    everyKernelTakesEveryFourthFrame<double>();
}

// A peak read back is the sample's magnitude exactly, from -380 to +380 dBFS, and the mark
// comes exactly for a sample past full scale, on an input and on an output.
TEST(MeterFeed, PeaksAreExactAndOnlyPastFullScaleMarks) {
    const float above = std::nextafter(1.0f, 2.0f), below = std::nextafter(1.0f, 0.0f);
    for (float v : {1.0f, above, -above, below, -1.0f, 0.5f, 2e-19f, 3.4e18f, -1e-3f, 1.5f})
        for (int first : {0, 3}) {
            std::vector<float> block(512, 0.25f * std::fabs(v));
            block[200] = v;
            const float* channels[3] = {block.data(), block.data(), block.data()};
            editor::MeterFeed feed;
            feed.setActive(true);
            feed.measure(first, channels, 512);
            const auto taken = feed.take();
            editor::MeterBallistics ballistics;
            ballistics.update(taken, 0.03);
            for (int k = 0; k < 6; ++k) {
                const bool measured = k >= first && k < first + 3;
                EXPECT_EQ(taken.peak[static_cast<std::size_t>(k)], measured ? std::fabs(v) : 0.0f) << v << " " << k;
                EXPECT_EQ(ballistics.snapshot().channels[static_cast<std::size_t>(k)].over, measured && std::fabs(v) > 1.0f)
                    << v << " " << k;
            }
        }
}

// Block b: 0.25 everywhere but a first sample of 0.5 + b/64, so that every square and sum is
// exact and the totals can be compared exactly.
std::vector<float> numberedBlock(int b) {
    std::vector<float> block(256, 0.25f);
    block[0] = 0.5f + static_cast<float>(b) / 64.0f;
    return block;
}

double squaresOfBlock(int b) {
    const double first = 0.5 + b / 64.0;
    return 255 * 0.0625 + first * first;
}

TEST(MeterFeed, AnEditorThatIsBehindLosesNothing) {
    editor::MeterFeed feed;
    feed.setActive(true);
    const int blocks = 3 * static_cast<int>(editor::MeterFeed::kRecords) + 1;
    double total = 0;
    for (int b = 0; b < blocks - 1; ++b) {
        const auto block = numberedBlock(b);
        const float* channels[3] = {block.data(), block.data(), block.data()};
        feed.measure(0, channels, 256);
        total += squaresOfBlock(b);
    }
    // The ring held what it could; the rest waited in the audio thread's record and comes with
    // the next block.
    const auto first = feed.take();
    EXPECT_EQ(first.counted[0], editor::MeterFeed::kRecords * 256);
    const auto block = numberedBlock(blocks - 1);
    const float* channels[3] = {block.data(), block.data(), block.data()};
    feed.measure(0, channels, 256);
    total += squaresOfBlock(blocks - 1);
    const auto second = feed.take();
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(first.counted[k] + second.counted[k], static_cast<std::uint32_t>(blocks) * 256);
        EXPECT_EQ(first.sumSquares[k] + second.sumSquares[k], total);
        EXPECT_EQ(second.peak[k], 0.5f + static_cast<float>(blocks - 1) / 64.0f);
        EXPECT_EQ(second.counted[k + 3], 0u);  // outputs: never measured
    }
    EXPECT_EQ(feed.take().counted[0], 0u);  // and nothing twice
}

#if !defined(_WIN32)  // this toolchain's win32 threads have no std::thread
// The audio thread and the editor at once: every block arrives exactly once.
TEST(MeterFeed, BlocksArriveOnceWhileTheEditorTakesAtOnce) {
    editor::MeterFeed feed;
    feed.setActive(true);
    const std::vector<float> half(64, 0.5f), silence(64, 0.0f);
    const float* halves[3] = {half.data(), half.data(), half.data()};
    const float* silent[3] = {silence.data(), silence.data(), silence.data()};
    constexpr int kBlocks = 20000;
    std::atomic<bool> done{false};
    std::thread audio([&] {
        for (int b = 0; b < kBlocks; ++b) feed.measure(3, halves, 64);
        done = true;
    });
    double sum = 0;
    std::uint64_t counted = 0;
    auto add = [&](const editor::MeterFeed::Taken& t) { sum += t.sumSquares[3], counted += t.counted[3]; };
    while (!done) add(feed.take());
    audio.join();
    add(feed.take());
    feed.measure(3, silent, 64);  // brings what waited while the ring was full
    add(feed.take());
    EXPECT_EQ(counted, (kBlocks + 1) * 64u);
    EXPECT_EQ(sum, kBlocks * 64 * 0.25);
}
#endif

}  // namespace
