// The decoder's audio through the built module, against a model of the signal path written
// here from the steps, independently of the plug-in's code. The one piece the model shares is
// the decibel routine, proven correctly rounded against MPFR by its own test.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "effect/decibels.h"
#include "plugin_fixture.h"

namespace {

struct RowRange {
    double min, max, step;
};
const RowRange kRanges[11] = {{-12, 12, 0.1}, {-12, 12, 0.1},  {-150, 12, 0.1},  {-120, 120, 0.1},
                              {0, 1, 1},      {-150, 12, 0.1}, {-120, 120, 0.1}, {0, 1, 1},
                              {0, 1, 1},      {0, 2, 1},       {-10, 10, 0.1}};

double finite(double v) { return std::isfinite(v) ? v : 0.0; }

int slot(double x) {
    const double n = x >= 0 ? x + 0.0001 : x - 0.0001;
    if (std::isnan(n) || n >= 2147483648.0 || n <= -2147483649.0) return 0;
    return static_cast<int>(static_cast<long long>(n) & 63);
}

// The decoder as the steps describe it: sliders in, three channels per frame out.
struct Model {
    double sliders[65] = {};
    double samples[64] = {};
    double midTrim = 0, sideTrim = 0, outTrim = 0, balance = 0, swap = 0, di = 0, pan = 0, mix = 0, pin3 = 0, ab = 0,
           ms = 0, diOn = 0, mainTrim = 0;

    Model() { sliders[6] = -150; }

    // The host's normalised set: outside 0..1 the nearest end, zero-anchored grid, halfway up,
    // 0.00001 window.
    bool set(int index, float normalized) {
        const RowRange& r = kRanges[index];
        if (!std::isfinite(normalized)) return false;
        const double x = std::clamp(static_cast<double>(normalized), 0.0, 1.0);
        const double v = r.min + x * (r.max - r.min);
        const double q = std::floor((v + r.step * 0.5) / r.step) * r.step;
        if (!std::isfinite(q) || std::fabs(q - sliders[index + 1]) < 0.00001) return false;
        sliders[index + 1] = q;
        recompute();
        return true;
    }
    // A loaded value outside its row's range is held at the nearest end; a NaN stays.
    void load(int index, float value) {
        const RowRange& r = kRanges[index - 1];
        sliders[index] = value < r.min ? r.min : value > r.max ? r.max : value;
    }
    void recompute() {
        auto db = [](double v) { return finite(vintrel::decibelsToGain(v)); };
        midTrim = db(sliders[1]);
        sideTrim = db(sliders[2]);
        outTrim = db(sliders[3]);
        balance = finite((120 + sliders[4]) / 240);
        swap = finite(sliders[5]);
        di = db(sliders[6]);
        pan = finite((120 + sliders[7]) / 240);
        mix = finite(1 - sliders[8]);
        pin3 = finite(1 - mix);
        ab = finite(sliders[9]);
        ms = sliders[10] > 1 ? 0 : 1;
        diOn = sliders[10] == 1 ? 0 : 1;
        mainTrim = db(sliders[11]);
    }
    void frame(double in0, double in1, double in2) {
        double* s = samples;
        s[0] = in0;
        s[1] = in1;
        s[2] = in2;
        if (ab != 0) {
            const double mid = finite(in0), side = finite(in1);
            s[0] = finite(mid + side);
            s[1] = finite(mid - side);
            s[2] = finite(finite(in2) * di * pin3);
            return;
        }
        const double width = finite(1 - std::fabs(sliders[4]) / 240);
        s[1] = in1 * balance;
        s[0] = in0 * finite(1 - balance);
        const double diRight = finite(in2 * pan), diLeft = finite(in2 * (1 - pan));
        const double mid = finite(s[0] * ms), side = finite(ms * s[1]);
        s[0] = finite((mid + side) * width * midTrim * outTrim);
        s[1] = finite((mid - side) * width * sideTrim * outTrim);
        const double left = s[0], right = s[1];
        s[slot(swap)] = finite((left + di * diLeft * mix * diOn) * 2 * mainTrim);
        s[slot(1 - swap)] = finite((di * diRight * mix * diOn + right) * 2 * mainTrim);
        s[2] = finite(finite(s[2]) * di * pin3 * mainTrim);
    }
};

template <class Sample>
bool sameBits(Sample a, Sample b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Processes the frames through the plug-in and the model; reports the first difference.
template <class Sample>
::testing::AssertionResult matchesModel(Decoder& fx, Model& model, const std::vector<double> (&input)[3],
                                        bool inPlace) {
    const std::size_t frames = input[0].size();
    Channels3<Sample> buffers(frames, inPlace);
    for (int k = 0; k < 3; ++k)
        for (std::size_t j = 0; j < frames; ++j) buffers.in[k][j] = static_cast<Sample>(input[k][j]);
    fx.process(buffers.inputs, buffers.outputs, static_cast<VstInt32>(frames));
    for (std::size_t j = 0; j < frames; ++j) {
        // The model hears what the host's buffers held, widened to double.
        model.frame(static_cast<double>(static_cast<Sample>(input[0][j])),
                    static_cast<double>(static_cast<Sample>(input[1][j])),
                    static_cast<double>(static_cast<Sample>(input[2][j])));
        for (int k = 0; k < 3; ++k) {
            const Sample expected = static_cast<Sample>(model.samples[k]);
            const Sample got = buffers.outputs[k][j];
            if (!sameBits(expected, got))
                return ::testing::AssertionFailure()
                       << "frame " << j << " channel " << k << ": expected " << expected << ", got " << got;
        }
    }
    return ::testing::AssertionSuccess();
}

double randomSample(std::mt19937& rng) {
    std::uniform_int_distribution<int> kind(0, 19);
    std::uniform_real_distribution<double> audio(-1.5, 1.5);
    switch (kind(rng)) {
        case 0: return std::numeric_limits<double>::quiet_NaN();
        case 1: return std::numeric_limits<double>::infinity();
        case 2: return -std::numeric_limits<double>::infinity();
        case 3: return std::numeric_limits<float>::denorm_min() * 3;
        case 4: return -std::numeric_limits<double>::denorm_min() * 5;
        case 5: return 0.0;
        case 6: return 3e38;
        default: return audio(rng);
    }
}

TEST(DecoderAudio, RandomSettingsAndInputsMatchTheModelBitForBit) {
    std::mt19937 rng(20261208);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::uniform_int_distribution<int> pick(0, 10);
    Decoder fx;
    fx.start();
    Model model;
    model.recompute();
    for (int round = 0; round < 300; ++round) {
        for (int changes = pick(rng) % 4; changes >= 0; --changes) {
            const int index = pick(rng);
            float x = unit(rng);
            if (round % 7 == 0) x = x * 1.4f - 0.2f;  // past the ends now and then
            if (round % 11 == 0) x = std::round(x * 2) / 2;
            fx.setParameter(index, x);
            model.set(index, x);
        }
        std::vector<double> input[3];
        const std::size_t frames = 1 + static_cast<std::size_t>(pick(rng)) * 7;
        for (auto& channel : input)
            for (std::size_t j = 0; j < frames; ++j) channel.push_back(randomSample(rng));
        const bool inPlace = round % 3 == 0;
        if (round % 2 == 0)
            ASSERT_TRUE(matchesModel<float>(fx, model, input, inPlace)) << "round " << round;
        else
            ASSERT_TRUE(matchesModel<double>(fx, model, input, inPlace)) << "round " << round;
    }
}

TEST(DecoderAudio, LoadedOddValuesMatchTheModelToo) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> wide(-300.0f, 300.0f);
    for (int round = 0; round < 60; ++round) {
        Decoder fx;
        fx.start();
        Model model;
        std::vector<float> chunk(65, 0.0f);
        chunk[0] = -1000.0f;
        for (int k = 1; k <= 11; ++k) {
            chunk[static_cast<std::size_t>(k)] = (round + k) % 3 == 0 ? wide(rng) : std::round(wide(rng) / 100) / 2;
            model.load(k, chunk[static_cast<std::size_t>(k)]);
        }
        if (round % 5 == 0) chunk[5] = model.sliders[5] = 0.6f;
        if (round % 9 == 0) chunk[4] = model.sliders[4] = std::numeric_limits<float>::quiet_NaN();
        std::vector<std::uint8_t> bytes(260);
        std::memcpy(bytes.data(), chunk.data(), 260);
        ASSERT_EQ(fx.setChunk(bytes), 260);
        model.recompute();
        std::vector<double> input[3];
        for (auto& channel : input)
            for (int j = 0; j < 9; ++j) channel.push_back(randomSample(rng));
        ASSERT_TRUE(matchesModel<double>(fx, model, input, round % 2 == 0)) << "round " << round;
    }
}

// One frame through the plug-in in double precision.
std::array<double, 3> decode(Decoder& fx, double mid, double side, double di) {
    Channels3<double> buffers(1);
    buffers.in[0][0] = mid;
    buffers.in[1][0] = side;
    buffers.in[2][0] = di;
    fx.process(buffers.inputs, buffers.outputs, 1);
    return {buffers.out[0][0], buffers.out[1][0], buffers.out[2][0]};
}

// Normalised values for the settings the cases use.
constexpr float kWidthMinus120 = 0.0f, kWidthPlus120 = 1.0f, kPanLeft = 0.0f, kPanRight = 1.0f;
constexpr float kDiAt0dB = 150.0f / 162.0f;

TEST(DecoderCases, DefaultsKeepTheDiFarDownButNotRemoved) {
    Decoder fx;
    fx.start();
    const auto out = decode(fx, 0.5, 0.25, 1.0);
    const double di = vintrel::powerOfTen(-7.5);
    EXPECT_NEAR(out[0], 0.75 + di, 1e-16);
    EXPECT_NEAR(out[1], 0.25 + di, 1e-16);
    EXPECT_GT(out[0], 0.75);
    EXPECT_EQ(out[2], 0.0);
}

TEST(DecoderCases, WidthRunsFromMonoMidToSideOnly) {
    Decoder fx;
    fx.start();
    fx.setParameter(0, 0.5f);
    auto out = decode(fx, 0.5, 0.25, 0.0);
    EXPECT_EQ(out[0], 0.75);
    EXPECT_EQ(out[1], 0.25);
    fx.setParameter(3, kWidthMinus120);
    out = decode(fx, 0.5, 0.25, 0.0);
    EXPECT_EQ(out[0], 0.5);
    EXPECT_EQ(out[1], 0.5);
    fx.setParameter(3, kWidthPlus120);
    out = decode(fx, 0.5, 0.25, 0.0);
    EXPECT_EQ(out[0], 0.25);
    EXPECT_EQ(out[1], -0.25);
}

TEST(DecoderCases, DiPanPlacesTheDiBetweenTheChannels) {
    Decoder fx;
    fx.start();
    fx.setParameter(5, kDiAt0dB);
    fx.setParameter(6, kPanLeft);
    auto out = decode(fx, 0.0, 0.0, 0.25);
    EXPECT_EQ(out[0], 0.5);
    EXPECT_EQ(out[1], 0.0);
    fx.setParameter(6, 0.5f);
    out = decode(fx, 0.0, 0.0, 0.25);
    EXPECT_EQ(out[0], 0.25);
    EXPECT_EQ(out[1], 0.25);
    fx.setParameter(6, kPanRight);
    out = decode(fx, 0.0, 0.0, 0.25);
    EXPECT_EQ(out[0], 0.0);
    EXPECT_EQ(out[1], 0.5);
    EXPECT_EQ(out[2], 0.0);
}

TEST(DecoderCases, ActiveChannelsAndRouting) {
    Decoder fx;
    fx.start();
    fx.setParameter(5, kDiAt0dB);
    fx.setParameter(9, 0.5f);  // MS only: no DI in the pair
    auto out = decode(fx, 0.5, 0.25, 1.0);
    EXPECT_EQ(out[0], 0.75);
    EXPECT_EQ(out[1], 0.25);
    EXPECT_EQ(out[2], 0.0);
    fx.setParameter(7, 1.0f);  // DI via pin 3: output 3 still carries it
    out = decode(fx, 0.5, 0.25, 1.0);
    EXPECT_EQ(out[2], 1.0);
    fx.setParameter(7, 0.0f);
    fx.setParameter(9, 1.0f);  // DI only: the microphones fall silent
    out = decode(fx, 0.5, 0.25, 1.0);
    EXPECT_EQ(out[0], 1.0);
    EXPECT_EQ(out[1], 1.0);
    fx.setParameter(7, 1.0f);
    out = decode(fx, 0.5, 0.25, 1.0);
    EXPECT_EQ(out[0], 0.0);
    EXPECT_EQ(out[1], 0.0);
    EXPECT_EQ(out[2], 1.0);
}

TEST(DecoderCases, UnprocessedIgnoresAllButDiLevelAndRouting) {
    Decoder fx;
    fx.start();
    for (int index : {0, 1, 2, 3, 4, 6, 9, 10}) fx.setParameter(index, 0.83f);
    fx.setParameter(5, kDiAt0dB);
    fx.setParameter(7, 1.0f);
    fx.setParameter(8, 1.0f);
    const auto out = decode(fx, 0.5, 0.25, 0.75);
    EXPECT_EQ(out[0], 0.75);
    EXPECT_EQ(out[1], 0.25);
    EXPECT_EQ(out[2], 0.75);  // no main trim on the unprocessed path
}

TEST(DecoderCases, SwapExchangesThePairWithTheirDiShares) {
    Decoder fx;
    fx.start();
    fx.setParameter(5, kDiAt0dB);
    fx.setParameter(6, kPanLeft);
    fx.setParameter(4, 1.0f);
    const auto out = decode(fx, 0.5, 0.25, 0.125);
    EXPECT_EQ(out[0], 0.25);
    EXPECT_EQ(out[1], 0.75 + 0.25);
}

TEST(DecoderCases, AnInBetweenSwapFromAChunkLandsBothOnSlotZero) {
    Decoder fx;
    fx.start();
    std::vector<float> chunk(65, 0.0f);
    chunk[0] = -1000.0f;
    chunk[5] = 0.6f;
    chunk[6] = 0.0f;
    chunk[7] = -120.0f;
    std::vector<std::uint8_t> bytes(260);
    std::memcpy(bytes.data(), chunk.data(), bytes.size());
    fx.setChunk(bytes);
    const auto out = decode(fx, 0.5, 0.25, 0.125);
    // Both stores go to slot 0 and the second wins: the right channel with its (zero) DI
    // share, doubled. Slot 1 keeps the right channel as decoded, before doubling.
    EXPECT_EQ(out[0], (0.0 + 0.125) * 2);
    EXPECT_EQ(out[1], 0.125);
}

TEST(DecoderCases, SilenceAfterOpenUntilTheNextRecompute) {
    Decoder fx;
    fx.start();
    fx.setParameter(5, kDiAt0dB);
    EXPECT_NE(decode(fx, 0.5, 0.25, 1.0)[0], 0.0);
    fx.open();
    for (double v : decode(fx, 0.5, 0.25, 1.0)) EXPECT_EQ(v, 0.0);
    fx.setParameter(3, 0.6f);
    EXPECT_NE(decode(fx, 0.5, 0.25, 1.0)[0], 0.0);
}

TEST(DecoderCases, ARestoredTrimActsAsTheFloatItWasSavedAs) {
    Decoder source;
    source.setParameter(0, 0.5f + 0.1f / 24);
    const auto saved = source.getChunk();
    Decoder fx;
    fx.start();
    fx.setChunk(saved);
    const double in0 = 0.7, in1 = 0.3;
    const double width = 1.0;
    auto expectedLeft = [&](double trimDb) {
        const double mid = in0 * 0.5, side = in1 * 0.5;
        return (mid + side) * width * vintrel::decibelsToGain(trimDb) * 1.0 * 2 * 1.0;
    };
    const double got = decode(fx, in0, in1, 0.0)[0];
    EXPECT_EQ(got, expectedLeft(static_cast<double>(0.1f)));
    EXPECT_NE(got, expectedLeft(0.1));
}

}  // namespace

namespace {

// A fixed take in both precisions through settings that sweep every parameter across its
// range, "output trim" and "DI level" from -150 to +12 dB, folded into one number. The number is
// pinned: every target (Linux x86-64, i686 and aarch64, both Windows DLLs) must give exactly it.
std::uint64_t fixedTakeDigest() {
    Decoder fx;
    fx.start();
    std::uint64_t digest = 1469598103934665603ull;  // FNV-1a
    auto fold = [&](const void* bytes, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i)
            digest = (digest ^ static_cast<const unsigned char*>(bytes)[i]) * 1099511628211ull;
    };
    constexpr int kBlocks = 163, kFrames = 97;  // one block per dB step of the two levels
    Channels3<float> single(kFrames);
    Channels3<double> twice(kFrames);
    std::uint32_t noise = 12345;  // integer arithmetic only: the same take on every platform
    for (int block = 0; block < kBlocks; ++block) {
        for (VstInt32 i = 0; i < 11; ++i) {
            // Each parameter walks its range at its own pace; the two levels walk it once.
            const int pace = (i == 2 || i == 5) ? 1 : 7 + 4 * i;
            const int position = (block * pace) % kBlocks;
            fx.setParameter(i, static_cast<float>(i == 5 ? kBlocks - 1 - position : position) / (kBlocks - 1));
        }
        for (std::size_t j = 0; j < kFrames; ++j)
            for (int k = 0; k < 3; ++k) {
                noise = noise * 1664525u + 1013904223u;
                const double v = (static_cast<double>(noise >> 8) / 8388608.0 - 1.0) * 0.8;
                single.in[k][j] = static_cast<float>(v);
                twice.in[k][j] = v;
            }
        fx.process(single.inputs, single.outputs, kFrames);
        fx.process(twice.inputs, twice.outputs, kFrames);
        for (int k = 0; k < 3; ++k) {
            fold(single.out[k].data(), single.out[k].size() * sizeof(float));
            fold(twice.out[k].data(), twice.out[k].size() * sizeof(double));
        }
    }
    return digest;
}

TEST(DecoderAudio, FixedTakeGivesThePinnedDigestOnEveryTarget) {
    const std::uint64_t digest = fixedTakeDigest();
    std::printf("fixed-take digest: %016llx\n", static_cast<unsigned long long>(digest));
    EXPECT_EQ(digest, 0xdb74ee0b81bff56full);
}

}  // namespace
