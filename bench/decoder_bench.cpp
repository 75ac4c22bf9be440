// What processing costs per frame, driving the built plug-in through its record as a host
// does, beside two yardsticks measured in the same run: (a) the memory floor, copying the
// three channels in and out, and (b) a plain hand-written loop of the same decoder, one frame
// at a time, that gives the same bits.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "effect/decoder_block.h"
#include "effect/decoder_parameters.h"
#include "effect/guitar_decoder.h"
#include "host/vst_host.h"

namespace {

struct Setting {
    const char* name;
    float values[11];  // normalised, host index order
};
// The defaults, and every switch away from its default (with trims, width and pan moved).
const Setting kSettings[] = {
    {"defaults", {0.5f, 0.5f, 150.0f / 162, 0.5f, 0.0f, 0.0f, 0.5f, 0.0f, 0.0f, 0.0f, 0.5f}},
    {"switched", {0.6f, 0.4f, 0.9f, 0.7f, 1.0f, 0.9f, 0.3f, 1.0f, 0.0f, 0.5f, 0.55f}},
    {"unprocessed", {0.6f, 0.4f, 0.9f, 0.7f, 1.0f, 0.9f, 0.3f, 1.0f, 1.0f, 1.0f, 0.55f}},
};

vsthost::Module& decoder() {
    static std::unique_ptr<vsthost::Module> module = [] {
        std::string error;
        auto loaded = vsthost::Module::load(GUITAR_DECODER_PATH, error);
        if (!loaded) {
            std::fprintf(stderr, "%s\n", error.c_str());
            std::exit(1);
        }
        return loaded;
    }();
    return *module;
}

// A host's normalised value as the decoder stores it: on the zero-anchored grid of the row's step.
double quantised(decoder::Slider s, float normalized) {
    const decoder::Parameter& p = decoder::kParameters[static_cast<std::size_t>(s - 1)];
    const double v = p.min + static_cast<double>(normalized) * (p.max - p.min);
    return std::floor((v + p.step * 0.5) / p.step) * p.step;
}

// The decoder written out as a developer would hand-write it: gains computed when the
// settings change, then one frame at a time with the closed-form expressions.
struct PlainDecoder {
    double widthBalance, midWeight, width, pan, msEnable, diEnable, midTrim, sideTrim, outTrim, diGain, diMix, pin3,
        mainTrim;
    bool swapped, unprocessed;

    static double finite(double v) { return std::isfinite(v) ? v : 0.0; }
    static double db(double v) { return std::pow(10.0, v / 20.0); }

    explicit PlainDecoder(const float (&x)[11]) {
        auto value = [&](decoder::Slider s) { return quantised(s, x[s - 1]); };
        const double s4 = value(decoder::kStereoWidth), s10 = value(decoder::kActiveChannels);
        midTrim = db(value(decoder::kMidTrim));
        sideTrim = db(value(decoder::kSideTrim));
        outTrim = db(value(decoder::kOutputTrim));
        widthBalance = (120 + s4) / 240;
        midWeight = 1 - widthBalance;
        width = 1 - std::fabs(s4) / 240;
        swapped = value(decoder::kSwap) == 1;
        diGain = db(value(decoder::kDiLevel));
        pan = (120 + value(decoder::kDiPan)) / 240;
        diMix = 1 - value(decoder::kDiRouting);
        pin3 = 1 - diMix;
        unprocessed = value(decoder::kAbMs) != 0;
        msEnable = s10 > 1 ? 0 : 1;
        diEnable = s10 == 1 ? 0 : 1;
        mainTrim = db(value(decoder::kMainTrim));
    }

    template <class Sample>
    void process(Sample** in, Sample** out, int frames) const {
        for (int j = 0; j < frames; ++j) {
            const double i0 = in[0][j], i1 = in[1][j], i2 = in[2][j];
            double o0, o1, o2;
            if (unprocessed) {
                const double mid = finite(i0), side = finite(i1);
                o0 = finite(mid + side);
                o1 = finite(mid - side);
                o2 = finite(finite(i2) * diGain * pin3);
            } else {
                const double side = i1 * widthBalance, mid = i0 * midWeight;
                const double diRight = finite(i2 * pan), diLeft = finite(i2 * (1 - pan));
                const double m = finite(mid * msEnable), s = finite(msEnable * side);
                const double left = finite((m + s) * width * midTrim * outTrim);
                const double right = finite((m - s) * width * sideTrim * outTrim);
                const double a = finite((left + diGain * diLeft * diMix * diEnable) * 2 * mainTrim);
                const double b = finite((diGain * diRight * diMix * diEnable + right) * 2 * mainTrim);
                o0 = swapped ? b : a;
                o1 = swapped ? a : b;
                o2 = finite(finite(i2) * diGain * pin3 * mainTrim);
            }
            out[0][j] = static_cast<Sample>(o0);
            out[1][j] = static_cast<Sample>(o1);
            out[2][j] = static_cast<Sample>(o2);
        }
    }
};

template <class Sample>
struct Buffers {
    std::vector<Sample> in[3], out[3];
    Sample* inputs[3];
    Sample* outputs[3];
    Buffers(int frames, bool inPlace) {
        std::mt19937 rng(42);
        std::uniform_real_distribution<double> sample(-1.0, 1.0);
        for (int k = 0; k < 3; ++k) {
            for (int j = 0; j < frames; ++j) in[k].push_back(static_cast<Sample>(sample(rng)));
            out[k].assign(static_cast<std::size_t>(frames), Sample(0));
            inputs[k] = in[k].data();
            outputs[k] = inPlace ? in[k].data() : out[k].data();
        }
    }
};

template <class Sample>
void pluginRun(benchmark::State& state, int setting, bool inPlace) {
    const int frames = static_cast<int>(state.range(0));
    vsthost::Plugin plugin;
    plugin.recordCalls = false;
    plugin.instantiate(decoder().entry());
    plugin.open();
    plugin.setSampleRate(48000.0f);
    plugin.setBlockSize(frames);
    plugin.resume();
    for (int i = 0; i < 11; ++i) plugin.setParameter(i, kSettings[setting].values[i]);

    // The plain loop must give the same bits, or comparing with it means nothing.
    Buffers<Sample> check(frames, false), plain(frames, false);
    plugin.process(check.inputs, check.outputs, frames);
    PlainDecoder(kSettings[setting].values).process(plain.inputs, plain.outputs, frames);
    for (int k = 0; k < 3; ++k)
        if (std::memcmp(check.out[k].data(), plain.out[k].data(), sizeof(Sample) * frames) != 0) {
            state.SkipWithError("the plain loop and the plug-in disagree");
            return;
        }

    Buffers<Sample> buffers(frames, inPlace), fresh(frames, false);
    for (auto _ : state) {
        // In place, each call would decode its own output again and drift into subnormals,
        // which no host feeds; so the buffers are refreshed first, one floor's worth of copying.
        if (inPlace)
            for (int k = 0; k < 3; ++k) std::memcpy(buffers.inputs[k], fresh.inputs[k], sizeof(Sample) * frames);
        plugin.process(buffers.inputs, buffers.outputs, frames);
        benchmark::ClobberMemory();
    }
}

template <class Sample>
void plainRun(benchmark::State& state, int setting) {
    const int frames = static_cast<int>(state.range(0));
    Buffers<Sample> buffers(frames, false);
    const PlainDecoder plain(kSettings[setting].values);
    for (auto _ : state) {
        plain.process(buffers.inputs, buffers.outputs, frames);
        benchmark::ClobberMemory();
    }
}

template <class Sample>
void floorRun(benchmark::State& state) {
    const int frames = static_cast<int>(state.range(0));
    Buffers<Sample> buffers(frames, false);
    for (auto _ : state) {
        for (int k = 0; k < 3; ++k) std::memcpy(buffers.outputs[k], buffers.inputs[k], sizeof(Sample) * frames);
        benchmark::ClobberMemory();
    }
}

// The decoder's block routine alone, in this process, with the kernels of one register width:
// what processors without the widest kernels get.
template <class Sample>
void kernelRun(benchmark::State& state, int width) {
    const int frames = static_cast<int>(state.range(0));
    if (!useDecoderKernels(width)) {
        state.SkipWithError("this processor lacks that register width");
        return;
    }
    TVintrelEffect fx;
    fx.DoReset();
    const float* x = kSettings[0].values;
    for (const decoder::Parameter& p : decoder::kParameters) fx.Sliders[p.slider] = quantised(p.slider, x[p.slider - 1]);
    fx.DoSlider();
    Buffers<Sample> buffers(frames, false);
    for (auto _ : state) {
        fx.DoSampleBlock(buffers.inputs, buffers.outputs, frames);
        benchmark::ClobberMemory();
    }
    useDecoderKernels(8) || useDecoderKernels(4);
}

// Collects every result, then prints nanoseconds per frame and the ratios to (a) and (b).
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        // With --benchmark_repetitions the median of the repetitions stands for the benchmark.
        for (const Run& run : runs) {
            if (run.error_occurred || run.iterations == 0) continue;
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
            const std::string name = run.run_name.str();
            const auto slash = name.rfind('/');
            const double frames = std::stod(name.substr(slash + 1));
            nsPerFrame_[name] = run.real_accumulated_time * 1e9 / static_cast<double>(run.iterations) / frames;
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\n%-44s %10s %10s %12s %12s\n", "plug-in run", "ns/frame", "floor ns", "x floor (a)",
                    "x faster (b)");
        for (const auto& [name, ns] : nsPerFrame_) {
            // kernel/<width>/<precision>/<frames>: the block routine alone, defaults
            if (name.rfind("kernel/", 0) == 0) {
                const auto first = name.find('/', 7), last = name.rfind('/');
                const std::string precision = name.substr(first + 1, last - first - 1);
                const double plainNs = lookup("plain/" + precision + "/defaults" + name.substr(last));
                std::printf("%-44s %10.3f %10s %12s %12.2f\n", name.c_str(), ns, "", "", plainNs / ns);
                continue;
            }
            if (name.rfind("plugin/", 0) != 0) continue;
            // plugin/<precision>/<setting>/<buffers>/<frames>
            std::vector<std::string> part;
            for (std::size_t at = 0, next; at != std::string::npos; at = next == std::string::npos ? next : next + 1) {
                next = name.find('/', at);
                part.push_back(name.substr(at, next == std::string::npos ? next : next - at));
            }
            const double floorNs = lookup("floor/" + part[1] + "/" + part[4]);
            const double plainNs = lookup("plain/" + part[1] + "/" + part[2] + "/" + part[4]);
            std::printf("%-44s %10.3f %10.3f %12.1f %12.2f\n", name.c_str(), ns, floorNs, ns / floorNs, plainNs / ns);
        }
    }

private:
    double lookup(const std::string& name) const {
        const auto it = nsPerFrame_.find(name);
        return it == nsPerFrame_.end() ? NAN : it->second;
    }
    std::map<std::string, double> nsPerFrame_;
};

template <class Sample>
void registerAll(const char* precision) {
    const std::vector<long> blocks = {16, 64, 512, 4096};
    const std::string p = precision;
    for (long frames : blocks) {
        benchmark::RegisterBenchmark(("floor/" + p).c_str(), floorRun<Sample>)->Arg(frames);
        for (int width : {2, 4, 8})
            benchmark::RegisterBenchmark(("kernel/" + std::to_string(width) + "/" + p).c_str(),
                                         [width](benchmark::State& st) { kernelRun<Sample>(st, width); })
                ->Arg(frames);
        for (int s = 0; s < 3; ++s) {
            const std::string setting = kSettings[s].name;
            benchmark::RegisterBenchmark(("plain/" + p + "/" + setting).c_str(), [s](benchmark::State& st) {
                plainRun<Sample>(st, s);
            })->Arg(frames);
            for (bool inPlace : {false, true})
                benchmark::RegisterBenchmark(
                    ("plugin/" + p + "/" + setting + "/" + (inPlace ? "in-place" : "separate")).c_str(),
                    [s, inPlace](benchmark::State& st) { pluginRun<Sample>(st, s, inPlace); })
                    ->Arg(frames);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    registerAll<float>("float");
    registerAll<double>("double");
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
