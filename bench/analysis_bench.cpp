// What checking a take costs: `vstrender --analyze` on a ten-minute, 48 kHz three-channel
// take (the DI 68 samples ahead of the mid microphone), end to end in process: reading the
// file, decoding it with the plug-in three times (as set, microphones alone, DI alone), the
// DI's cross-correlation, loudness and true peak on a second thread.
#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <cstdint>
#include <filesystem>
#include <vector>

#include "tools/vstrender/analysis.h"
#include "tools/vstrender/inputs.h"
#include "tools/vstrender/session.h"

namespace {

namespace fs = std::filesystem;

// A take made block by block, so writing it needs no more memory than a block: noise for the
// strings, heard by the DI at once and by the mid microphone 68 samples later.
fs::path writeTake(double seconds) {
    const fs::path path = fs::temp_directory_path() / ("analysis-bench-" + std::to_string(static_cast<int>(seconds)) + ".wav");
    if (fs::exists(path)) return path;
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 3;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
    SNDFILE* file = sf_open(path.string().c_str(), SFM_WRITE, &info);
    std::uint32_t seed = 12345;
    auto noise = [&] {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<float>(seed >> 8) / 8388608.0f - 1.0f;
    };
    constexpr int kDelay = 68;
    std::vector<float> history(kDelay, 0.0f), block(3 * 4096);
    std::size_t at = 0;
    const auto total = static_cast<std::uint64_t>(seconds * info.samplerate);
    float low = 0;
    for (std::uint64_t done = 0; done < total;) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(4096, total - done));
        for (std::size_t j = 0; j < n; ++j) {
            low += 0.2f * (noise() - low);  // the strings' sound, darker than white
            const float di = 0.3f * low, heard = history[at];
            history[at] = di;
            at = (at + 1) % kDelay;
            block[3 * j] = 0.8f * heard + 0.02f * noise();
            block[3 * j + 1] = 0.3f * heard * (j % 2 ? 1.0f : 0.9f) + 0.05f * noise();
            block[3 * j + 2] = di;
        }
        sf_writef_float(file, block.data(), static_cast<sf_count_t>(n));
        done += n;
    }
    sf_close(file);
    return path;
}

void AnalyzeTake(benchmark::State& state) {
    const double seconds = static_cast<double>(state.range(0));
    const fs::path take = writeTake(seconds);
    for (auto _ : state) {
        vstrender::LoadedPlugin p = vstrender::loadPlugin(GUITAR_DECODER_PATH);
        auto fresh = vstrender::anotherInstance(p);
        vstrender::Options o;
        o.inputs = {take.string()};
        vstrender::Inputs inputs = vstrender::openInputs(o);
        const vstrender::Analysis a = vstrender::analyzeTake(inputs, p, *fresh, {}, false);
        if (!a.diAgainst[0].reliable() || std::abs(a.diAgainst[0].delaySamples - 68) > 0.05)
            state.SkipWithError("the DI's delay was not found");
        benchmark::DoNotOptimize(a.loudness.integratedLufs);
    }
    state.counters["take_s"] = seconds;
    state.counters["realtime_x"] = benchmark::Counter(seconds * static_cast<double>(state.iterations()),
                                                      benchmark::Counter::kIsRate);
}
BENCHMARK(AnalyzeTake)->Arg(600)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
