// The effect runtime on its own: parameter rows, positions, memory, the state stream and
// the save/load hooks, with a small probe effect that counts what runs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <set>

#include "runtime/numeric.h"
#include "runtime/text.h"
#include "runtime/vintrel.h"

namespace {

struct ProbeEffect : TVintrel {
    int sliderRuns = 0, initRuns = 0, serializeRuns = 0;
    bool serialize = true;
    double a = 0.0, b = 0.0;
    void DoSlider() override { ++sliderRuns; }
    void DoInit() override { ++initRuns; }
    void DoSerialize() override {
        ++serializeRuns;
        if (!serialize) return;
        Files[0].StreamValue(a);
        Files[0].StreamValue(b);
    }
};

std::vector<std::uint8_t> floatsToBytes(std::initializer_list<float> values) {
    std::vector<std::uint8_t> bytes(values.size() * 4);
    std::memcpy(bytes.data(), values.begin(), bytes.size());
    return bytes;
}

TEST(ParameterTable, SetQuantisesOnZeroAnchoredGridAndHalfwayGoesUp) {
    ProbeEffect fx;
    // Range -0.05..1: a Min-anchored grid would give 0.25, the zero-anchored one 0.3.
    fx.AddParameter(3, nullptr, 0.0, -0.05, 1.0, 0.1, "", "", "", "offset");
    fx.SetNormalized(0, (0.26 + 0.05) / 1.05);
    EXPECT_EQ(fx.Sliders[3], 3 * 0.1);
    fx.SetNormalized(0, 0.0);  // -0.05 lies halfway between -0.1 and 0: it goes up
    EXPECT_EQ(fx.Sliders[3], 0.0);

    ProbeEffect sw;
    sw.AddParameter(1, nullptr, 0.0, 0.0, 1.0, 1.0, "", "", "", "switch");
    sw.SetNormalized(0, 0.49);
    EXPECT_EQ(sw.Sliders[1], 0.0);
    EXPECT_EQ(sw.sliderRuns, 0);
    sw.SetNormalized(0, 0.5);
    EXPECT_EQ(sw.Sliders[1], 1.0);
    EXPECT_EQ(sw.sliderRuns, 1);
    // Outside 0..1 a request acts as the nearest end; a NaN or infinity as no request at all.
    sw.SetNormalized(0, 2.0);
    EXPECT_EQ(sw.Sliders[1], 1.0);
    EXPECT_EQ(sw.GetNormalized(0), 1.0);
    EXPECT_EQ(sw.sliderRuns, 1);
    sw.SetNormalized(0, -0.5);
    EXPECT_EQ(sw.Sliders[1], 0.0);
    for (double odd : {1e6, -1e6, 3.4e38, -3.4e38}) {
        sw.SetNormalized(0, odd);
        EXPECT_EQ(sw.Sliders[1], odd > 0 ? 1.0 : 0.0) << odd;
    }
    const int runs = sw.sliderRuns;
    for (double none : {std::nan(""), double(INFINITY), -double(INFINITY)}) sw.SetNormalized(0, none);
    EXPECT_EQ(sw.Sliders[1], 0.0);
    EXPECT_EQ(sw.sliderRuns, runs);
}

TEST(ParameterTable, ChangesInsideTheNoChangeWindowRunNothing) {
    ProbeEffect fx;
    double mirror = -7.0;
    fx.AddParameter(2, &mirror, 0.0, 0.0, 1.0, 0.000001, "", "", "", "fine");
    fx.SetNormalized(0, 0.000009);  // quantised 0.000009: within 0.00001 of 0
    EXPECT_EQ(fx.Sliders[2], 0.0);
    EXPECT_EQ(fx.sliderRuns, 0);
    EXPECT_EQ(mirror, -7.0);
    fx.SetNormalized(0, 0.000011);
    EXPECT_NEAR(fx.Sliders[2], 0.000011, 1e-12);
    EXPECT_EQ(mirror, fx.Sliders[2]);
    EXPECT_EQ(fx.sliderRuns, 1);
}

TEST(ParameterTable, NonFiniteRequestsAndForeignIndicesChangeNothing) {
    ProbeEffect fx;
    fx.AddParameter(1, nullptr, 0.5, 0.0, 1.0, 0.1, "", "", "", "p");
    for (double x : {std::nan(""), HUGE_VAL, -HUGE_VAL}) fx.SetNormalized(0, x);
    fx.SetNormalized(-1, 0.9);
    fx.SetNormalized(1, 0.9);
    EXPECT_EQ(fx.Sliders[1], 0.5);
    EXPECT_EQ(fx.sliderRuns, 0);
    EXPECT_EQ(fx.GetNormalized(1), 0.0);
    EXPECT_EQ(fx.GetNormalized(-5), 0.0);
    char buffer[8] = "keep";
    fx.DisplayText(7, buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "keep");
}

TEST(ParameterTable, DisplayPicksLabelsAndFormatsNumbers) {
    ProbeEffect fx;
    fx.AddParameter(1, nullptr, 0.0, 0.0, 1.0, 1.0, "", "", "", "two");
    fx.SliderInfos.back().Labels = {"off", "on"};
    fx.AddParameter(2, nullptr, 0.0, 0.0, 2.0, 1.0, "", "", "", "three");
    fx.SliderInfos.back().Labels = {"a", "b", "c"};
    fx.AddParameter(3, nullptr, -150.0, -150.0, 12.0, 0.1, "", "", "dB", "level");
    char text[32];
    auto display = [&](int index, double value) {
        fx.Sliders[static_cast<std::size_t>(fx.SliderInfos[static_cast<std::size_t>(index)].Index)] = value;
        fx.DisplayText(index, text, sizeof text);
        return std::string(text);
    };
    EXPECT_EQ(display(0, 0.0), "off");
    EXPECT_EQ(display(0, 0.5), "off");
    EXPECT_EQ(display(0, 1.0), "on");
    EXPECT_EQ(display(1, 1.9), "b");
    EXPECT_EQ(display(1, 2.0), "c");
    EXPECT_EQ(display(1, -1.0), "a");
    EXPECT_EQ(display(1, 7.0), "c");
    EXPECT_EQ(display(1, std::nan("")), "a");
    EXPECT_EQ(display(1, 1e300), "a");  // past the 32-bit range: the first label
    EXPECT_EQ(display(2, -150.0), "-150.00");
    EXPECT_EQ(display(2, -30.0), "-30.00");
    // A small buffer gets the start of the text and its terminating zero.
    fx.DisplayText(2, text, 5);
    EXPECT_STREQ(text, "-30.");
}

TEST(Positions, RoundAwayFromZeroTruncateAndMask) {
    using vintrel::samplePosition;
    using vintrel::sliderPosition;
    EXPECT_EQ(sliderPosition(127.5), 127);
    EXPECT_EQ(sliderPosition(127.99995), 0);
    EXPECT_EQ(sliderPosition(128.0), 0);
    EXPECT_EQ(sliderPosition(-1.0), 127);
    EXPECT_EQ(sliderPosition(3.99995), 4);
    EXPECT_EQ(sliderPosition(130.0), 2);
    EXPECT_EQ(samplePosition(0.6), 0);
    EXPECT_EQ(samplePosition(1.0), 1);
    EXPECT_EQ(samplePosition(-1.0), 63);
    // Values the 32-bit conversion cannot hold land on position 0, never undefined.
    for (double x : {std::nan(""), HUGE_VAL, -HUGE_VAL, 1e12, -1e12, 2147483648.0})
        EXPECT_EQ(sliderPosition(x), 0) << x;
    EXPECT_EQ(vintrel::roundToPosition(2147483647.0), 2147483647);
    EXPECT_EQ(vintrel::roundToPosition(-2147483648.0), INT32_MIN);
}

TEST(Memory, BlocksAreZeroFilledAndNegativeIndicesWork) {
    ProbeEffect fx;
    double& last = fx.Mem(-1);
    ASSERT_EQ(fx.Memory.count(-1), 1u);
    EXPECT_EQ(&last, &fx.Memory[-1][65535]);
    EXPECT_EQ(last, 0.0);
    last = 4.0;
    fx.Mem(65536) = 2.0;
    EXPECT_EQ(fx.Memory[1].size(), 65536u);
    EXPECT_EQ(fx.Mem(-1), 4.0);
    EXPECT_EQ(fx.Mem(65537), 0.0);
    fx.Sliders[5] = 3.0;
    fx.Samples[60] = 1.0;
    fx.DoReset();
    EXPECT_TRUE(fx.Memory.empty());
    EXPECT_EQ(fx.Sliders[5], 3.0);
    EXPECT_EQ(fx.Samples[60], 1.0);
}

TEST(Stream, WritesGrowReadsStopAtTheEndClosedDoesNothing) {
    CVintrelFile stream;
    double v = 1.5;
    stream.StreamValue(v);  // closed
    EXPECT_TRUE(stream.Values.empty());
    stream.ResetForWrite();
    stream.Position = 3;
    stream.StreamValue(v);
    ASSERT_EQ(stream.Values.size(), 4u);
    EXPECT_EQ(stream.Values[0], 0.0f);
    EXPECT_EQ(stream.Values[3], 1.5f);
    double tenth = 0.1;
    stream.Position = 0;
    stream.StreamValue(tenth);  // overwrites in place
    EXPECT_EQ(stream.Values.size(), 4u);

    const std::vector<float> copy = stream.Values;
    stream.ResetForRead(copy.data(), 14);  // 3 whole floats, 2 bytes ignored
    ASSERT_EQ(stream.Values.size(), 3u);
    double x = -1.0;
    stream.StreamValue(x);
    EXPECT_EQ(x, 0.100000001490116119384765625);
    stream.Position = 3;
    stream.StreamValue(x);
    EXPECT_EQ(x, 0.100000001490116119384765625);
    EXPECT_EQ(stream.Position, 3);
    for (int size : {-4, 0, 1, 2, 3}) {
        stream.ResetForRead(copy.data(), size);
        EXPECT_TRUE(stream.Values.empty());
        EXPECT_EQ(stream.Mode, CVintrelFile::Read);
    }
}

TEST(State, SaveWritesMarkerAndValuesOrNothing) {
    ProbeEffect fx;
    fx.a = 0.25;
    fx.b = -3.0;
    void* data = nullptr;
    ASSERT_EQ(fx.SaveState(&data, false), 12);
    const auto* floats = static_cast<const float*>(data);
    EXPECT_EQ(floats[0], -1000.0f);
    EXPECT_EQ(floats[1], 0.25f);
    EXPECT_EQ(floats[2], -3.0f);
    // Saving again reuses the stream: same size, same contents, no growth.
    const float* first = floats;
    EXPECT_EQ(fx.SaveState(&data, true), 12);
    EXPECT_EQ(data, first);

    fx.serialize = false;
    data = nullptr;
    EXPECT_EQ(fx.SaveState(&data, false), 0);
    EXPECT_EQ(data, nullptr);
}

TEST(State, LoadRunsHooksOnlyForMarkedDataAndInitOnlyOnce) {
    ProbeEffect fx;
    const auto valid = floatsToBytes({-1000.0f, 0.5f, 2.0f});
    for (const auto& foreign : {floatsToBytes({0.0f, 1.0f}), floatsToBytes({std::nanf(""), 1.0f}),
                                std::vector<std::uint8_t>{0x00, 0x00, 0x7A}}) {
        EXPECT_EQ(fx.LoadState(foreign.data(), static_cast<std::int32_t>(foreign.size()), false),
                  static_cast<std::int32_t>(foreign.size()));
    }
    EXPECT_EQ(fx.LoadState(valid.data(), 0, false), 0);
    EXPECT_EQ(fx.sliderRuns + fx.initRuns + fx.serializeRuns, 0);
    EXPECT_EQ(fx.a, 0.0);

    EXPECT_EQ(fx.LoadState(valid.data(), 12, false), 12);
    EXPECT_EQ(fx.a, 0.5);
    EXPECT_EQ(fx.b, 2.0);
    EXPECT_EQ(fx.initRuns, 1);
    EXPECT_EQ(fx.sliderRuns, 1);
    fx.DoResume();
    EXPECT_EQ(fx.initRuns, 2);
    EXPECT_EQ(fx.LoadState(valid.data(), 12, true), 12);
    EXPECT_EQ(fx.initRuns, 2);  // DoInitOnce ran DoInit only on the first load
    EXPECT_EQ(fx.InitCount, 2);

    // A short chunk restores what it holds and leaves the rest.
    const auto shortChunk = floatsToBytes({-1000.0f, 7.0f});
    fx.LoadState(shortChunk.data(), 8, false);
    EXPECT_EQ(fx.a, 7.0);
    EXPECT_EQ(fx.b, 2.0);
    EXPECT_EQ(fx.sliderRuns, 4);
}

TEST(FileListRows, LabelsAreTheRegularFilesBesideTheModule) {
    namespace fs = std::filesystem;
    const std::string base = vintrel::moduleDirectory();
    ASSERT_FALSE(base.empty());
    const std::string name = "vintrel_files_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                             "_" + std::to_string(reinterpret_cast<std::uintptr_t>(&base) & 0xFFFF);
    const fs::path dir = fs::path(base) / name;
    fs::create_directories(dir / "subdir");
    fs::create_directories(dir / "empty");
    std::ofstream(dir / "take1.wav") << "x";
    std::ofstream(dir / "take2.wav") << "x";
    std::ofstream(dir / ".hidden") << "x";

    ProbeEffect fx;
    // A leading separator is dropped, and no trailing one is needed.
    const int row = fx.AddParameter(9, nullptr, 0.75, -1.0, 5.0, 0.1, "/" + name, "", "", "file");
    const CVintrelSlider& files = fx.SliderInfos[static_cast<std::size_t>(row)];
    EXPECT_EQ(std::set<std::string>(files.Labels.begin(), files.Labels.end()),
              (std::set<std::string>{"take1.wav", "take2.wav"}));
    EXPECT_EQ(files.Min, 0.0);
    EXPECT_EQ(files.Max, 1.0);
    EXPECT_EQ(files.Step, 0.5);
    EXPECT_EQ(files.Default, 0.0);
    EXPECT_TRUE(files.Resolved);
    EXPECT_EQ(fx.Sliders[9], 0.75);

    for (const std::string& path : {name + "/empty/", name + "/missing"}) {
        const int other = fx.AddParameter(10, nullptr, 0.0, 0.0, 1.0, 1.0, path, "", "", "none");
        const CVintrelSlider& none = fx.SliderInfos[static_cast<std::size_t>(other)];
        EXPECT_EQ(none.Labels, std::vector<std::string>{"(No Data Files)"});
        EXPECT_EQ(none.Max, 0.0);
        EXPECT_EQ(none.Step, 0.5);
    }
    fs::remove_all(dir);
}

}  // namespace
