// What a parameter change costs, measured from outside through each format's interface:
// VST 2 setParameter sweeping each parameter through its grid, CLAP and VST 3 blocks of 64 and
// 512 frames carrying 0, 1, 4 or 16 parameter changes, and LV2 runs with 0, 1 or 4 control
// ports changed, each block new values. Prints the cost per change and per frame, and the
// ratio of each count of changes to none.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>
#include <cstdio>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "align/di_aligner.h"
#include "align/tone_match.h"
#include "entry/embedded_decoder.h"
#include "bench/arithmetic_limit.h"
#include "editor/editor.h"
#include "editor/meters.h"
#include "effect/decoder_parameters.h"
#include "host/clap_host.h"
#include "host/vst3_host.h"
#include "host/vst_host.h"
#if defined(VINTREL_LV2_BINARY)
#include "host/lv2_host.h"
#endif

namespace {

template <class Module>
const Module& loaded(const char* path) {
    static std::unique_ptr<Module> module = [path] {
        std::string error;
        auto m = Module::load(path, error);
        if (!m) {
            std::fprintf(stderr, "%s\n", error.c_str());
            std::exit(1);
        }
        return m;
    }();
    return *module;
}

// Every grid value of one parameter, bottom to top, as normalised values.
std::vector<double> gridOf(const decoder::Parameter& p) {
    std::vector<double> values;
    const std::int32_t steps = p.stepCount();
    for (std::int32_t k = 0; k <= steps; ++k) values.push_back(static_cast<double>(k) / steps);
    return values;
}

// setParameter of the parameters of one kind (or every one), each through its whole grid.
void vst2SetParameter(benchmark::State& state, int kind) {
    vsthost::Plugin plugin;
    plugin.recordCalls = false;
    plugin.instantiate(loaded<vsthost::Module>(GUITAR_DECODER_PATH).entry());
    plugin.open();
    plugin.setSampleRate(48000.0f);
    plugin.setBlockSize(512);
    plugin.resume();
    std::vector<std::pair<VstInt32, float>> sweep;
    for (std::size_t i = 0; i < decoder::kParameters.size(); ++i)
        if (kind < 0 || static_cast<int>(decoder::kParameters[i].kind) == kind)
            for (double x : gridOf(decoder::kParameters[i]))
                sweep.emplace_back(static_cast<VstInt32>(i), static_cast<float>(x));
    std::size_t at = 0;
    for (auto _ : state) {
        plugin.setParameter(sweep[at].first, sweep[at].second);
        if (++at == sweep.size()) at = 0;
    }
    state.counters["changes"] = static_cast<double>(sweep.size());
}

// Two sets of `count` changes spread evenly through a block, of every parameter in turn, at
// values that differ between the two sets, so every block changes every value it names.
template <class Change, class MakeChange>
std::vector<Change> spreadChanges(int count, int frames, int set, MakeChange make) {
    std::vector<Change> changes;
    std::mt19937 rng(static_cast<unsigned>(count * 31 + set));
    for (int e = 0; e < count; ++e) {
        const auto id = static_cast<std::uint32_t>(e % 11);
        const auto grid = gridOf(decoder::kParameters[id]);
        double x = grid[std::uniform_int_distribution<std::size_t>(0, grid.size() - 1)(rng)];
        if (set == 1 && grid.size() > 1) x = x == grid[0] ? grid[1] : grid[0];  // never the other set's
        changes.push_back(make(e * frames / std::max(count, 1), id, x));
    }
    return changes;
}

template <class Sample>
struct Take {
    std::vector<Sample> in[3], out[3];
    Sample* inputs[3];
    Sample* outputs[3];
    explicit Take(int frames) {
        std::mt19937 rng(42);
        std::uniform_real_distribution<double> sample(-1.0, 1.0);
        for (int k = 0; k < 3; ++k) {
            for (int j = 0; j < frames; ++j) in[k].push_back(static_cast<Sample>(sample(rng)));
            out[k].assign(in[k].size(), Sample(0));
            inputs[k] = in[k].data(), outputs[k] = out[k].data();
        }
    }
};

template <class Sample>
void clapBlocks(benchmark::State& state) {
    const int frames = static_cast<int>(state.range(0)), count = static_cast<int>(state.range(1));
    auto plugin = claphost::Plugin::create(loaded<claphost::Module>(VINTREL_CLAP_PATH), "net.brelvander.guitar-decoder");
    plugin->activate(48000.0, static_cast<std::uint32_t>(frames));
    auto make = [frames](int frame, std::uint32_t id, double x) {
        const decoder::Parameter& p = decoder::kParameters[id];
        return claphost::ParamChange{static_cast<std::uint32_t>(frame), id, p.min + x * (p.max - p.min)};
    };
    const claphost::EventList sets[2] = {claphost::EventList(spreadChanges<claphost::ParamChange>(count, frames, 0, make)),
                                         claphost::EventList(spreadChanges<claphost::ParamChange>(count, frames, 1, make))};
    Take<Sample> take(frames);
    int set = 0;
    for (auto _ : state) {
        plugin->process(take.inputs, take.outputs, static_cast<std::uint32_t>(frames), sets[set]);
        set ^= 1;
        benchmark::ClobberMemory();
    }
}

template <class Sample>
void vst3Blocks(benchmark::State& state) {
    const int frames = static_cast<int>(state.range(0)), count = static_cast<int>(state.range(1));
    std::string error;
    auto plugin = vst3host::Plugin::create(loaded<vst3host::Module>(VINTREL_VST3_PATH), error);
    plugin->start(48000.0, frames, sizeof(Sample) == sizeof(double) ? vst3::kSample64 : vst3::kSample32);
    auto make = [](int frame, std::uint32_t id, double x) { return vst3host::Change{frame, id, x}; };
    vst3host::Changes sets[2] = {vst3host::Changes(spreadChanges<vst3host::Change>(count, frames, 0, make)),
                                 vst3host::Changes(spreadChanges<vst3host::Change>(count, frames, 1, make))};
    Take<Sample> take(frames);
    int set = 0;
    for (auto _ : state) {
        plugin->process(take.inputs, take.outputs, frames, sets[set]);
        set ^= 1;
        benchmark::ClobberMemory();
    }
}

// Blocks whose inputs are normal numbers (range(1) 0) against ones of subnormal numbers (1):
// these are decoded from flushed copies, so they cost about what normal ones do.
template <class Sample>
void subnormalBlocks(benchmark::State& state) {
    const int frames = static_cast<int>(state.range(0));
    auto plugin = claphost::Plugin::create(loaded<claphost::Module>(VINTREL_CLAP_PATH), "net.brelvander.guitar-decoder");
    plugin->activate(48000.0, static_cast<std::uint32_t>(frames));
    Take<Sample> take(frames);
    if (state.range(1) >= 1)
        for (auto& channel : take.in)
            for (Sample& s : channel) s *= state.range(1) == 1 ? std::numeric_limits<Sample>::min() / 2 : Sample(0);
    const claphost::EventList none({});
    for (auto _ : state) {
        plugin->process(take.inputs, take.outputs, static_cast<std::uint32_t>(frames), none);
        benchmark::ClobberMemory();
    }
}

// What the editor's metering adds to a block while an editor is open: the inputs measured
// before, the outputs and the scope's points after, beside the block's own processing; and
// with range(1) 2, a measurement of the DI under way too (the inputs copied into its ring).
template <class Sample>
void meteredBlocks(benchmark::State& state) {
    const int frames = static_cast<int>(state.range(0));
    auto plugin = claphost::Plugin::create(loaded<claphost::Module>(VINTREL_CLAP_PATH), "net.brelvander.guitar-decoder");
    plugin->activate(48000.0, static_cast<std::uint32_t>(frames));
    Take<Sample> take(frames);
    editor::MeterFeed feed;
    feed.setActive(state.range(1) != 0);
    if (state.range(1) == 2) feed.diInputs.arm();
    const claphost::EventList none({});
    // The editor takes what the audio thread measured on a thread of its own.
    std::atomic<bool> stop{false};
    std::thread editorThread([&] {
        editor::ScopeData points(36, 18);
        std::vector<float> inputs(3 * 4096);
        bool gap = false;
        while (!stop) {
            feed.take(), feed.takePoints(points);
            while (feed.diInputs.take(inputs.data(), 4096, gap) > 0) {
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    for (auto _ : state) {
        feed.beforeBlock(take.inputs, frames);
        plugin->process(take.inputs, take.outputs, static_cast<std::uint32_t>(frames), none);
        feed.afterBlock(take.outputs, frames);
        benchmark::ClobberMemory();
    }
    stop = true;
    editorThread.join();
}

// The DI's alignment in CLAP blocks: none, a whole-sample delay, a fraction (the 64-tap
// kernel), and a negative fraction (the microphones delayed too); then none and the fraction
// with the DI's tone match at 100 % (a curve of +-9 dB swings).
constexpr double kAlignmentCases[] = {0.0, 1.0, 1.5125, -1.5125, 0.0, 1.5125};  // ms
const char* const kAlignmentNames[] = {"none", "1 ms (whole)", "1.5125 ms", "-1.5125 ms", "none, DI matched",
                                       "1.5125 ms, DI matched"};
constexpr int kMatchedCases = 4;  // and after

// The tone match given as a state gives it: its curve and amount after the alignment's block.
void giveToneMatch(claphost::Plugin& plugin) {
    std::vector<std::uint8_t> state;
    plugin.saveState(state);
    align::ToneCurve curve;
    for (int k = 0; k < align::kMatchPoints; ++k) curve.db[static_cast<std::size_t>(k)] = 9.0 * std::sin(0.37 * k);
    curve.held.fill(false);
    const std::uint32_t given = 1;
    const double percent = 100;
    const std::vector<std::uint8_t> bytes = vintrel::EmbeddedDecoder::curveBytes(curve);
    std::memcpy(state.data() + 288, &given, 4);
    std::memcpy(state.data() + 292, &percent, 8);
    std::copy(bytes.begin(), bytes.end(), state.begin() + 300);
    plugin.loadState(state);
}

template <class Sample>
void alignedBlocks(benchmark::State& state) {
    const int frames = static_cast<int>(state.range(0));
    auto plugin = claphost::Plugin::create(loaded<claphost::Module>(VINTREL_CLAP_PATH), "net.brelvander.guitar-decoder");
    plugin->flush({{0, 11, kAlignmentCases[state.range(1)]}});
    if (state.range(1) >= kMatchedCases) giveToneMatch(*plugin);
    plugin->activate(48000.0, static_cast<std::uint32_t>(frames));
    Take<Sample> take(frames);
    const claphost::EventList none({});
    for (auto _ : state) {
        plugin->process(take.inputs, take.outputs, static_cast<std::uint32_t>(frames), none);
        benchmark::ClobberMemory();
    }
}

// The DI's fractional delay alone: the alignment stage on 512 frames of three channels with
// the DI 72.6 samples late (64 taps), at each kernel width this processor has.
template <class Sample>
void fractionStage(benchmark::State& state) {
    const int frames = 512, width = static_cast<int>(state.range(0));
    if (!align::useAlignmentKernels(width)) {
        state.SkipWithError("this processor has no kernel of that width");
        return;
    }
    align::DiAligner stage;
    stage.prepare(48000.0);
    stage.jumpTo(72.6, false);
    Take<Sample> take(frames);
    for (auto _ : state) {
        stage.process(take.inputs, take.outputs, frames);
        benchmark::ClobberMemory();
    }
    align::useAlignmentKernels(8) || align::useAlignmentKernels(4);
    state.SetItemsProcessed(state.iterations() * frames);
}

// The meters' kernel alone: the squares of a block's six channels, nothing else.
template <class Sample>
void blockSquares(benchmark::State& state) {
    const int frames = static_cast<int>(state.range(0));
    Take<Sample> take(frames);
    Sample largest[3], sum[3];
    for (auto _ : state) {
        editor::blockSquares(take.inputs, frames, largest, sum);
        benchmark::DoNotOptimize(largest);
        benchmark::DoNotOptimize(sum);
        editor::blockSquares(take.outputs, frames, largest, sum);
        benchmark::DoNotOptimize(largest);
        benchmark::DoNotOptimize(sum);
        benchmark::ClobberMemory();
    }
}

#if defined(VINTREL_LV2_BINARY)
// LV2 control ports, read once per run: `count` of them take new values before each run.
void lv2Runs(benchmark::State& state) {
    const int frames = static_cast<int>(state.range(0)), count = static_cast<int>(state.range(1));
    std::string error;
    auto plugin = lv2host::Instance::load(VINTREL_LV2_BINARY, "urn:brelvander:guitar-decoder", 48000.0, error);
    if (!plugin) {
        state.SkipWithError(error.c_str());
        return;
    }
    Take<float> take(frames);
    float controls[11];
    for (std::uint32_t i = 0; i < 11; ++i) {
        controls[i] = static_cast<float>(decoder::kParameters[i].defaultValue);
        plugin->connect(6 + i, &controls[i]);
    }
    for (std::uint32_t k = 0; k < 3; ++k) plugin->connect(k, take.inputs[k]), plugin->connect(3 + k, take.outputs[k]);
    plugin->activate();
    int set = 0;
    for (auto _ : state) {
        for (int e = 0; e < count; ++e) {
            const decoder::Parameter& p = decoder::kParameters[static_cast<std::size_t>(e)];
            controls[e] = static_cast<float>(set ? p.max : p.min);
        }
        plugin->run(static_cast<std::uint32_t>(frames));
        set ^= 1;
        benchmark::ClobberMemory();
    }
}
#endif

// Prints nanoseconds per change, and per frame with the ratio of each event count to none.
class ChangeReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred || run.iterations == 0) continue;
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
            nsPerCall_[run.run_name.str()] = run.real_accumulated_time * 1e9 / static_cast<double>(run.iterations);
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\n%-40s %12s\n", "VST 2 setParameter, grid sweeps", "ns/change");
        for (const auto& [name, ns] : nsPerCall_)
            if (name.rfind("vst2/", 0) == 0) std::printf("%-40s %12.1f\n", name.c_str(), ns);
        std::printf("\n%-40s %12s %12s\n", "CLAP blocks, editor closed/open", "ns/frame", "x closed");
        for (const auto& [name, ns] : nsPerCall_) {
            if (name.rfind("meters/", 0) != 0 || name.back() != '1') continue;
            const std::string closed = name.substr(0, name.size() - 1) + "0";
            const double frames = std::stod(name.substr(name.find('/', 7) + 1));
            std::printf("%-40s %12.2f %12s\n", closed.c_str(), nsPerCall_[closed] / frames, "1.00");
            std::printf("%-40s %12.2f %12.2f\n", name.c_str(), ns / frames, ns / nsPerCall_[closed]);
        }
        std::printf("\n%-40s %12s %12s\n", "the meters' squares alone, six channels", "ns/frame", "ns/block");
        for (const auto& [name, ns] : nsPerCall_) {
            if (name.rfind("squares/", 0) != 0) continue;
            const double frames = std::stod(name.substr(name.rfind('/') + 1));
            std::printf("%-40s %12.2f %12.1f\n", name.c_str(), ns / frames, ns);
        }
        std::printf("\n%-40s %12s %12s\n", "CLAP blocks with the DI aligned", "ns/frame", "x none");
        for (const auto& [name, ns] : nsPerCall_) {
            if (name.rfind("align/", 0) != 0) continue;  // align/<precision>/<frames>/<case>
            const auto last = name.rfind('/'), before = name.rfind('/', last - 1);
            const double frames = std::stod(name.substr(before + 1, last - before - 1));
            const std::string label = name.substr(0, last + 1) + kAlignmentNames[std::stoi(name.substr(last + 1))];
            std::printf("%-40s %12.2f %12.2f\n", label.c_str(), ns / frames, ns / nsPerCall_[name.substr(0, last) + "/0"]);
        }
        std::printf("\n%-40s %12s %12s\n", "metered CLAP blocks, measuring the DI", "ns/frame", "x metered");
        for (const auto& [name, ns] : nsPerCall_) {
            if (name.rfind("meters/", 0) != 0 || name.back() != '2') continue;
            const double frames = std::stod(name.substr(name.find('/', 7) + 1));
            const double metered = nsPerCall_[name.substr(0, name.size() - 1) + "1"];
            std::printf("%-40s %12.2f %12.2f\n", name.c_str(), ns / frames, ns / metered);
        }
        std::printf("\n%-40s %12s\n", "the editor's pictures, by scale", "ms/picture");
        for (const auto& [name, ns] : nsPerCall_)
            if (name.rfind("editor/", 0) == 0) std::printf("%-40s %12.2f\n", name.c_str(), ns * 1e-6);
        std::printf("\n%-40s %12s %12s %12s\n", "blocks with parameter changes", "ns/frame", "x no events",
                    "ns/change");
        for (const auto& [name, ns] : nsPerCall_) {
            // <format>/<precision>/<frames>/<events>
            if (name.rfind("clap/", 0) != 0 && name.rfind("vst3/", 0) != 0 && name.rfind("lv2/", 0) != 0) continue;
            const auto last = name.rfind('/'), before = name.rfind('/', last - 1);
            const double frames = std::stod(name.substr(before + 1, last - before - 1));
            const double events = std::stod(name.substr(last + 1));
            const double none = nsPerCall_[name.substr(0, last) + "/0"];
            std::printf("%-40s %12.2f %12.2f %12s\n", name.c_str(), ns / frames, ns / none,
                        events > 0 ? std::to_string(static_cast<int>((ns - none) / events)).c_str() : "-");
        }
    }

private:
    std::map<std::string, double> nsPerCall_;
};

// The DI's tone match on 512-frame blocks of one channel, in a kernel width: a curve of
// +-9 dB swings, at 48 kHz.
template <class Sample>
void toneFilter(benchmark::State& state) {
    const int frames = 512, width = static_cast<int>(state.range(0));
    if (!align::useAlignmentKernels(width)) {
        state.SkipWithError("this processor has no kernel of that width");
        return;
    }
    align::ToneCurve curve;
    for (int k = 0; k < align::kMatchPoints; ++k) curve.db[static_cast<std::size_t>(k)] = 9.0 * std::sin(0.37 * k);
    align::ToneFilter filter;
    filter.set(align::matchSections(curve, 1.0, 48000.0));
    // The same block each time: filtered again and again in place, its boosted tones would
    // grow past what audio holds.
    std::vector<Sample> take(frames), di(frames);
    for (int j = 0; j < frames; ++j) take[static_cast<std::size_t>(j)] = static_cast<Sample>(0.25 * std::sin(0.01 * j));
    for (auto _ : state) {
        std::copy(take.begin(), take.end(), di.begin());
        filter.process(di.data(), di.size());
        benchmark::ClobberMemory();
    }
    align::useAlignmentKernels(8) || align::useAlignmentKernels(4);
    state.SetItemsProcessed(state.iterations() * frames);
}

// One picture of the editor at a scale, meters and scope full of a playing take: what each of
// its 30 pictures a second costs the host's window thread while the audio plays.
void editorPicture(benchmark::State& state) {
    struct Quiet : editor::EditorHost {
        void beginEdit(int) override {}
        void performEdit(int, double) override {}
        void endEdit(int) override {}
    } host;
    editor::MeterFeed feed;
    editor::Editor e(host, &feed);
    e.setScale(static_cast<double>(state.range(0)));
    feed.setActive(true);
    std::vector<float> mid(4800), side(4800);
    for (std::size_t j = 0; j < mid.size(); ++j)
        mid[j] = 0.5f * static_cast<float>(std::sin(0.031 * j)), side[j] = 0.2f * static_cast<float>(std::sin(0.017 * j));
    const float* channels[3] = {mid.data(), side.data(), mid.data()};
    feed.afterBlock(channels, mid.size());
    e.takeMeters(feed, 0.1);
    for (auto _ : state) benchmark::DoNotOptimize(e.draw().pixels().data());
}

void registerAll() {
    const char* kinds[] = {"levels", "positions", "switches"};
    for (int kind = 0; kind < 3; ++kind)
        benchmark::RegisterBenchmark((std::string("vst2/setParameter/") + kinds[kind]).c_str(),
                                     [kind](benchmark::State& st) { vst2SetParameter(st, kind); });
    for (long frames : {64, 512}) {
        benchmark::RegisterBenchmark("meters/float", meteredBlocks<float>)->Args({frames, 0})->Args({frames, 1});
        benchmark::RegisterBenchmark("meters/double", meteredBlocks<double>)->Args({frames, 0})->Args({frames, 1});
    }
    for (long alignment = 0; alignment < 6; ++alignment) {
        benchmark::RegisterBenchmark("align/float", alignedBlocks<float>)->Args({512, alignment});
        benchmark::RegisterBenchmark("align/double", alignedBlocks<double>)->Args({512, alignment});
    }
    benchmark::RegisterBenchmark("meters/float", meteredBlocks<float>)->Args({512, 2});
    for (long width : {2, 4, 8}) {
        benchmark::RegisterBenchmark("fraction/float", fractionStage<float>)->Arg(width);
        benchmark::RegisterBenchmark("fraction/double", fractionStage<double>)->Arg(width);
    }
    for (long width : {2, 4, 8}) {
        benchmark::RegisterBenchmark("tone/float", toneFilter<float>)->Arg(width);
        benchmark::RegisterBenchmark("tone/double", toneFilter<double>)->Arg(width);
    }
    benchmark::RegisterBenchmark("limit/16 bytes", arithmeticLimit<16>);
#if defined(__x86_64__)
    if (__builtin_cpu_supports("avx2")) benchmark::RegisterBenchmark("limit/32 bytes", arithmeticLimit32);
    if (__builtin_cpu_supports("avx512f")) benchmark::RegisterBenchmark("limit/64 bytes", arithmeticLimit64);
#endif
    for (long subnormal = 0; subnormal < 3; ++subnormal) {
        benchmark::RegisterBenchmark("subnormal/float", subnormalBlocks<float>)->Args({512, subnormal});
        benchmark::RegisterBenchmark("subnormal/double", subnormalBlocks<double>)->Args({512, subnormal});
    }
    benchmark::RegisterBenchmark("editor/picture", editorPicture)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("squares/float", blockSquares<float>)->Arg(512);
    benchmark::RegisterBenchmark("squares/double", blockSquares<double>)->Arg(512);
    benchmark::RegisterBenchmark("vst2/setParameter/every parameter",
                                 [](benchmark::State& st) { vst2SetParameter(st, -1); });
    for (long frames : {64, 512})
        for (long events : {0, 1, 4, 16}) {
            benchmark::RegisterBenchmark("clap/float", clapBlocks<float>)->Args({frames, events});
            benchmark::RegisterBenchmark("clap/double", clapBlocks<double>)->Args({frames, events});
            benchmark::RegisterBenchmark("vst3/float", vst3Blocks<float>)->Args({frames, events});
            benchmark::RegisterBenchmark("vst3/double", vst3Blocks<double>)->Args({frames, events});
#if defined(VINTREL_LV2_BINARY)
            if (events <= 11) benchmark::RegisterBenchmark("lv2/float", lv2Runs)->Args({frames, events});
#endif
        }
}

}  // namespace

int main(int argc, char** argv) {
    registerAll();
    benchmark::Initialize(&argc, argv);
    ChangeReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
