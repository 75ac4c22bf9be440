// `vstrender --analyze` and the DI options of a render, through the built program: takes with
// known answers in, reports, JSON, pictures and rendered files out.
#include <nlohmann/json.hpp>
#include <sys/resource.h>

#include "host/clap_host.h"
#include "host/threads.h"
#include "renderer_fixture.h"
#include "tests/alignment_cases.h"
#include "tests/room_take.h"
#include "tests/synthetic_take.h"
#include "tests/tone_take.h"
#include "editor/di_measurement.h"
#include "tools/vstrender/demo.h"
#include "tools/vstrender/png_file.h"

namespace {

using nlohmann::json;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class Analysis : public Renderer {
protected:
    // Interleaved samples as a float WAV (float, so the test's numbers reach the plug-in as they are).
    void write(const std::string& name, const std::vector<float>& samples, int channels, int rate = 48000) const {
        SF_INFO info{};
        info.samplerate = rate;
        info.channels = channels;
        info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
        SNDFILE* file = sf_open(path(name).c_str(), SFM_WRITE, &info);
        ASSERT_NE(file, nullptr);
        sf_writef_float(file, samples.data(), static_cast<sf_count_t>(samples.size() / static_cast<std::size_t>(channels)));
        sf_close(file);
    }
    json analyze(const std::string& arguments) const {
        const Outcome o = render("--analyze --json " + arguments);
        EXPECT_EQ(o.status, 0) << o.output;
        try {
            return json::parse(o.output);
        } catch (const std::exception& e) {
            ADD_FAILURE() << "not JSON: " << o.output;
            return json::object();
        }
    }
    std::vector<float> rendered(const std::string& arguments) const {
        const Outcome o = render(arguments + " -o " + path("out.wav") + " --overwrite -q");
        EXPECT_EQ(o.status, 0) << o.output;
        SF_INFO info;
        return readAll(path("out.wav"), info);
    }
};

constexpr char kDiAlone[] = "--outputs 1,2,3 --param \"DI routing=output DI via pin 3\" --param \"DI level=0\"";

TEST_F(Analysis, ReportsTheDiDelayAndPolarityAndWhatToDoInWordsAndJson) {
    write("take.wav", synthetic::take(48000, 3.0, 68.16), 3);
    const Outcome text = render("--analyze -i " + path("take.wav"));
    EXPECT_EQ(text.status, 0) << text.output;
    EXPECT_TRUE(contains(text.output, "DI leads the mid microphone by 1.42 ms (68.2 samples at 48 kHz), same polarity: "
                                      "delay the DI by that much, or render with --align-di"))
        << text.output;
    for (const char* section : {"DI alignment", "Balance", "Loudness of the decoded pair", "What to do"})
        EXPECT_TRUE(contains(text.output, section)) << section;

    // The DI behind the microphones and inverted, at another rate, as JSON.
    write("late.wav", synthetic::take(44100, 3.0, -25.3, -1.0), 3, 44100);
    json j = analyze("-i " + path("late.wav"));
    json& mid = j["di_alignment"]["mid"];
    EXPECT_TRUE(mid["reliable"].get<bool>());
    EXPECT_NEAR(mid["delay_samples"].get<double>(), -25.3, 0.05);
    EXPECT_NEAR(mid["delay_ms"].get<double>(), -25.3 / 44.1, 0.05 / 44.1);
    EXPECT_EQ(mid["polarity"], "inverted");
    EXPECT_GT(std::abs(mid["correlation"].get<double>()), 0.8);
    EXPECT_TRUE(contains(j["advice"][0].get<std::string>(), "DI lags the mid microphone by 0.57 ms (25.3 samples at "
                                                             "44.1 kHz), inverted polarity: invert the DI and move the "
                                                             "DI earlier by that much"));
    EXPECT_EQ(j["sample_rate_hz"], 44100);
    EXPECT_EQ(j["frames"], 3 * 44100);
    for (const char* level : {"mid", "side", "di", "left", "right"})
        for (const char* field : {"rms_dbfs", "peak_dbfs"}) EXPECT_TRUE(j["balance"][level][field].is_number()) << level;
    for (const char* field : {"side_to_mid_db", "pair_correlation", "mono_sum_loss_db"})
        EXPECT_TRUE(j["balance"][field].is_number()) << field;
    EXPECT_TRUE(j["balance"]["di_mix_low_end_loss_db"].is_null()) << "the DI is off by default";
    for (const char* field : {"integrated_lufs", "range_lu", "true_peak_dbtp", "largest_main_output_trim_db"})
        EXPECT_TRUE(j["loudness"][field].is_number()) << field;
}

TEST_F(Analysis, ThreeMonoFilesAreTheSameTakeAsOneThreeChannelFile) {
    const std::vector<float> take = synthetic::take(48000, 1.0, 12.7);
    std::vector<float> channel[3];
    for (std::size_t j = 0; j < take.size(); ++j) channel[j % 3].push_back(take[j]);
    write("take.wav", take, 3);
    for (int c = 0; c < 3; ++c) write("c" + std::to_string(c) + ".wav", channel[c], 1);
    json one = analyze("-i " + path("take.wav")), three = analyze("-i " + path("c0.wav") + " -i " + path("c1.wav") +
                                                                  " -i " + path("c2.wav"));
    one.erase("take");
    three.erase("take");
    EXPECT_EQ(one, three);
}

TEST_F(Analysis, TakesItCannotReadGetClearWords) {
    const std::vector<float> take = synthetic::take(48000, 1.0, 30);
    std::vector<float> mono, stereo, silentDi = take, unrelated = take, far(3 * 48000, 0.0f);
    for (std::size_t j = 0; j < take.size(); ++j) {
        if (j % 3 == 0) mono.push_back(take[j]);
        if (j % 3 != 2) stereo.push_back(take[j]);
    }
    const std::vector<float> other = synthetic::take(48000, 1.0, 0, 1, 77);
    for (std::size_t j = 2; j < take.size(); j += 3) {
        silentDi[j] = 0.0f;
        unrelated[j] = other[j];
    }
    // Slowly varying strings, the DI 12 ms ahead: the correlation peaks at the window's edge.
    synthetic::Noise noise(3);
    double smooth = 0.0;
    std::vector<double> di(48000);
    for (double& v : di) v = smooth += 0.01 * (noise() - smooth);
    for (std::size_t j = 576; j < di.size(); ++j) {
        far[3 * j] = static_cast<float>(5 * di[j - 576]);
        far[3 * (j - 576) + 2] = static_cast<float>(5 * di[j - 576]);
    }
    write("mono.wav", mono, 1);
    write("stereo.wav", stereo, 2);
    write("silent.wav", std::vector<float>(3 * 4800, 0.0f), 3);
    write("short.wav", std::vector<float>(take.begin(), take.begin() + 3 * 500), 3);
    write("silent-di.wav", silentDi, 3);
    write("unrelated.wav", unrelated, 3);
    write("far.wav", far, 3);
    const struct {
        const char* file;
        int status;
        const char* words;
    } cases[] = {
        {"mono.wav", 2, "is a mono file: the analysis needs mid, side and DI, as one three-channel file or three mono files"},
        {"stereo.wav", 2, "the take has two channels (mid and side): the DI, channel 3, is missing"},
        {"silent.wav", 1, "vstrender: the take is silent: nothing to analyse"},
        {"short.wav", 1, "shorter than the DI search window (961 frames, 10 ms either way): too short to analyse"},
        {"silent-di.wav", 0, "The DI channel is silent: there is nothing to align."},
        {"unrelated.wav", 0, "No reliable estimate of the DI's delay: the DI and the mid microphone share too little"},
        {"far.wav", 0, "The DI is more than 10 ms away: check that the files belong together."},
    };
    for (const auto& c : cases) {
        const Outcome o = render("--analyze -i " + path(c.file));
        EXPECT_EQ(o.status, c.status) << c.file << ": " << o.output;
        EXPECT_TRUE(contains(o.output, c.words)) << c.file << ": " << o.output;
    }
    // --align-di will not guess.
    for (const char* file : {"unrelated.wav", "far.wav", "silent-di.wav"}) {
        const Outcome o = render("--align-di -i " + path(file) + " -o " + path("out.wav"));
        EXPECT_EQ(o.status, 1) << file;
        EXPECT_TRUE(contains(o.output, "vstrender: --align-di: ")) << o.output;
        EXPECT_FALSE(fs::exists(path("out.wav")));
    }
}

TEST_F(Analysis, OptionsAreCheckedBeforeAnyWork) {
    write("take.wav", synthetic::take(48000, 0.5, 10), 3);
    const std::string in = " -i " + path("take.wav");
    const struct {
        std::string arguments, words;
    } cases[] = {
        {"--analyze" + in + " --di-delay 1.42", "--di-delay takes a number and its unit, ms or samples"},
        {"--analyze" + in + " --di-delay 2s", "--di-delay takes a number and its unit"},
        {"--analyze" + in + " --di-delay \"2 s\"", "--di-delay takes a number and its unit"},
        {"--analyze" + in + " --di-delay \"1001 ms\"", "is more than a second"},
        {"--analyze" + in + " --di-polarity sideways", "--di-polarity takes invert or same, not sideways"},
        {"--analyze" + in + " -o " + path("x.wav"), "--analyze writes no audio"},
        {"--analyze" + in + " --align-di", "--align-di is for a render"},
        {"--json" + in + " -o " + path("x.wav"), "--json goes with --analyze"},
        {"--plot " + path("p.png") + in + " -o " + path("x.wav"), "--plot goes with --analyze"},
        {"--align-di --di-delay \"1 ms\"" + in + " -o " + path("x.wav"), "leave out --di-delay and --di-polarity"},
    };
    for (const auto& c : cases) {
        const Outcome o = render(c.arguments);
        EXPECT_EQ(o.status, 2) << c.arguments << ": " << o.output;
        EXPECT_TRUE(contains(o.output, c.words)) << c.arguments << ": " << o.output;
    }
    EXPECT_FALSE(fs::exists(path("x.wav")));
}

// The DI moved by whole samples is the DI's own samples, moved: the same bits as a take whose
// DI was moved before it was written.
TEST_F(Analysis, WholeSampleDelaysMoveTheDiExactly) {
    const struct {
        double truth, polarity;
        std::string option;
    } cases[] = {
        {40, 1, "--align-di"},
        {40, -1, "--align-di"},
        {-25, 1, "--align-di"},
        {17, 1, "--di-delay \"17 samples\""},
        {48, -1, "--di-delay \"1 ms\" --di-polarity invert"},
        {-3, 1, "--di-delay=\"-3samples\""},
        // Further than a block either way, and in blocks of an odd size.
        {-700, 1, "--di-delay \"-700 samples\""},
        {1000, -1, "--di-delay \"1000 samples\" --di-polarity invert --block-size 37"},
    };
    const std::vector<float> take = synthetic::take(48000, 1.0, 40);
    const std::size_t frames = take.size() / 3;
    for (const auto& c : cases) {
        write("take.wav", c.option == "--align-di" ? synthetic::take(48000, 1.0, c.truth, c.polarity) : take, 3);
        const std::vector<float> source = c.option == "--align-di" ? synthetic::take(48000, 1.0, c.truth, c.polarity) : take;
        std::vector<float> moved = source;
        const auto shift = static_cast<std::ptrdiff_t>(c.truth);
        const auto sign = static_cast<float>(c.polarity);
        for (std::size_t j = 0; j < frames; ++j) {
            const std::ptrdiff_t from = static_cast<std::ptrdiff_t>(j) - shift;
            moved[3 * j + 2] = from >= 0 && from < static_cast<std::ptrdiff_t>(frames)
                                   ? sign * source[3 * static_cast<std::size_t>(from) + 2]
                                   : 0.0f;
        }
        write("moved.wav", moved, 3);
        const std::vector<float> aligned = rendered(c.option + " -i " + path("take.wav") + " " + kDiAlone);
        const std::vector<float> expected = rendered("-i " + path("moved.wav") + " " + kDiAlone);
        ASSERT_EQ(aligned.size(), expected.size()) << c.option;
        EXPECT_EQ(0, std::memcmp(aligned.data(), expected.data(), aligned.size() * sizeof(float))) << c.option << " " << c.truth;
    }
}

// The plug-ins' DI alignment and the renderer's are one stage: a render with --di-delay is the
// CLAP plug-in's output at that DI delay bit for bit, in both precisions; for a negative delay,
// the plug-in's output advanced by the latency it reports.
template <class Sample>
std::vector<float> clapDecoded(const std::vector<float>& take, double delayMs, bool invert, std::uint32_t& latency) {
    std::string error;
    static auto module = claphost::Module::load(VINTREL_CLAP_PATH, error);
    EXPECT_TRUE(module) << error;
    auto p = claphost::Plugin::create(*module, "net.brelvander.guitar-decoder");
    p->flush({{0, alignment::kDiLevel, 0.0}, {0, alignment::kDiRouting, 1.0}, {0, alignment::kDelay, delayMs},
              {0, alignment::kPolarity, invert ? 1.0 : 0.0}});
    EXPECT_TRUE(p->activate(48000, 8192));
    latency = p->extension<clap_plugin_latency_t>(CLAP_EXT_LATENCY)->get(&p->plugin());
    const std::size_t frames = take.size() / 3 + latency;  // and the latency's silence after the take
    alignment::Channels<Sample> in, out;
    for (int k = 0; k < 3; ++k) {
        in[k].assign(frames, Sample(0));
        out[k].assign(frames, Sample(0));
        for (std::size_t j = 0; j < take.size() / 3; ++j) in[k][j] = take[3 * j + static_cast<std::size_t>(k)];
    }
    host::runOnAnotherThread([&] {
        for (std::size_t at = 0; at < frames; at += 1000) {
            const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(1000, frames - at));
            Sample* i[] = {in[0].data() + at, in[1].data() + at, in[2].data() + at};
            Sample* o[] = {out[0].data() + at, out[1].data() + at, out[2].data() + at};
            p->process(i, o, n);
        }
    });
    std::vector<float> interleaved;
    for (std::size_t j = latency; j < frames; ++j)
        for (int k = 0; k < 3; ++k) interleaved.push_back(static_cast<float>(out[k][j]));
    return interleaved;
}

TEST_F(Analysis, ARenderWithADiDelayIsThePluginsOutputBitForBit) {
    write("take.wav", synthetic::take(48000, 0.5, 30), 3);
    for (const auto& [ms, invert] : {std::pair{1.5, false}, {1.5125, true}, {0.2, false}, {0.0007, false}, {9.9999, true},
                                     {-1.5125, false}, {-0.5, true}, {-0.0123, false}})
        for (bool useDouble : {false, true}) {
            char option[64];
            std::snprintf(option, sizeof option, "--di-delay %.4fms%s%s", ms, invert ? " --di-polarity invert" : "",
                          useDouble ? " --double" : "");
            SCOPED_TRACE(option);
            const std::vector<float> render = rendered(std::string(option) + " -i " + path("take.wav") + " " + kDiAlone);
            std::uint32_t latency = 0;
            const std::vector<float> plugin = useDouble ? clapDecoded<double>(synthetic::take(48000, 0.5, 30), ms, invert, latency)
                                                        : clapDecoded<float>(synthetic::take(48000, 0.5, 30), ms, invert, latency);
            EXPECT_EQ(latency > 0, ms < 0);
            ASSERT_EQ(render.size(), plugin.size());
            EXPECT_EQ(0, std::memcmp(render.data(), plugin.data(), render.size() * sizeof(float)));
        }
}

// The editor's measurement, fed as the audio thread feeds it in blocks of `block` frames, with
// its timer pumping after each: what it found.
editor::DiMeasurement measuredInTheEditor(const std::vector<float>& take, double rate, std::size_t block) {
    editor::MeasureFeed feed;
    feed.setSampleRate(rate);
    editor::DiMeasurement m;
    m.start(feed);
    std::vector<float> channels[3];
    for (auto& c : channels) c.resize(block);
    for (std::size_t at = 0; at + block <= take.size() / 3 && m.state() == editor::DiMeasurement::State::Measuring; at += block) {
        for (std::size_t j = 0; j < block; ++j)
            for (std::size_t c = 0; c < 3; ++c) channels[c][j] = take[3 * (at + j) + c];
        const float* in[] = {channels[0].data(), channels[1].data(), channels[2].data()};
        feed.copy(in, static_cast<std::int32_t>(block));
        m.pump(feed);
    }
    m.stop(feed);  // MEASURE again at the take's end
    return m;
}

// The editor measures three seconds of playing with the renderer's estimator; the renderer reads
// the whole take. On takes with known delays both find the same within 0.05 samples.
TEST_F(Analysis, TheEditorsMeasurementAgreesWithTheRenderersAnalysis) {
    const struct {
        int rate;
        double delay, polarity;
        std::size_t block;
    } cases[] = {{48000, 0.4, 1, 32},      {48000, 72.6, -1, 512}, {44100, 3.25, 1, 1024}, {44100, 131.9, -1, 64},
                 {96000, 17.5, -1, 256},   {96000, 299.7, 1, 1000}, {48000, 300.0, -1, 37},  {44100, 250.3, 1, 128}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.delay << " samples at " << c.rate << ", polarity " << c.polarity
                                        << ", blocks of " << c.block);
        const std::vector<float> take = synthetic::take(c.rate, 3.5, c.delay, c.polarity);
        write("take.wav", take, 3, c.rate);
        const json analysis = analyze("-i " + path("take.wav"));
        const double renderer = analysis["di_alignment"]["mid"]["delay_samples"].get<double>();
        const editor::DiMeasurement m = measuredInTheEditor(take, c.rate, c.block);
        ASSERT_EQ(m.state(), editor::DiMeasurement::State::Found) << m.headline();
        EXPECT_NEAR(m.mid().delaySamples, renderer, 0.05);
        EXPECT_NEAR(m.mid().delaySamples, c.delay, 0.05);
        EXPECT_EQ(m.inverted(), c.polarity < 0);
        EXPECT_EQ(analysis["di_alignment"]["mid"]["polarity"], c.polarity < 0 ? "inverted" : "same");
        EXPECT_NEAR(m.delayMs(), m.mid().delaySamples * 1000.0 / c.rate, 1e-12);
    }
}

// Takes recorded in a room (early reflections, the strongest at half the direct sound's level,
// a diffuse tail, noise): the renderer over the whole take, and the editor measuring the whole
// take until MEASURE is pressed again, find the direct path within 0.05 samples, and the same
// figure within 0.01 of each other.
TEST_F(Analysis, InARoomTheRendererAndTheEditorFindTheDirectPath) {
    const struct {
        int rate;
        double delay, polarity;
    } cases[] = {{48000, 62.37, 1}, {48000, 23.71, -1}, {44100, 0.4, 1}, {44100, -131.9, -1}, {96000, 124.74, 1}, {96000, 300.0, -1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.delay << " samples at " << c.rate << ", polarity " << c.polarity);
        std::vector<float> take = synthetic::roomTake(c.rate, 3.5, c.delay, c.polarity, 4);
        take.resize(take.size() / (3 * 1024) * (3 * 1024));  // whole pieces of the editor's
        write("room.wav", take, 3, c.rate);
        const json analysis = analyze("-i " + path("room.wav"));
        const double renderer = analysis["di_alignment"]["mid"]["delay_samples"].get<double>();
        EXPECT_NEAR(renderer, c.delay, 0.05);
        const editor::DiMeasurement m = measuredInTheEditor(take, c.rate, 512);
        ASSERT_EQ(m.state(), editor::DiMeasurement::State::Found) << m.headline();
        EXPECT_NEAR(m.mid().delaySamples, renderer, 0.01);
        EXPECT_NEAR(m.mid().delaySamples, c.delay, 0.05);
        EXPECT_EQ(m.inverted(), c.polarity < 0);
    }
}

// The pictures in docs/ are what the code draws now: the renderer's vectorscope and analysis
// sheet of the demo take with the demo's settings (as scripts/update-doc-pictures.sh draws
// them), and the editor's stored picture of a measured take, itself held against what the
// editor draws by the editor's tests.
TEST_F(Analysis, ThePicturesInTheDocsAreWhatTheCodeDrawsNow) {
#if defined(VINTREL_PICTURES_ELSEWHERE)
    GTEST_SKIP() << "the pictures are compared on the machine that builds them";
#endif
    const std::string settings = " --param \"stereo width=30\" --param \"DI level=-12\" --param \"DI pan to L/R=-40\"";
    ASSERT_EQ(render("--demo --align-di -o " + path("decoded.wav") + " --scope " + path("scope.png") + settings).status, 0);
    // From the take's folder: the sheet's title names the take as given.
    ASSERT_EQ(render("--analyze -i demo-take.wav --plot analysis.png" + settings, path("")).status, 0);
    const std::string docs = std::string(VINTREL_SOURCE_DIR) + "/docs/";
    const std::pair<std::string, std::string> pictures[] = {
        {docs + "vectorscope.png", path("scope.png")},
        {docs + "analysis.png", path("analysis.png")},
        {docs + "editor.png", std::string(VINTREL_SOURCE_DIR) + "/tests/editor_pictures/signal-measured@1x.png"}};
    for (const auto& [stored, drawn] : pictures) {
        int sw = 0, sh = 0, dw = 0, dh = 0;
        std::vector<std::uint8_t> a, b;
        std::string error;
        ASSERT_TRUE(vstrender::readPng(stored, sw, sh, a, error)) << error;
        ASSERT_TRUE(vstrender::readPng(drawn, dw, dh, b, error)) << error;
        EXPECT_TRUE(sw == dw && sh == dh && a == b)
            << stored << " is not what the code draws now: run scripts/update-doc-pictures.sh and look at it";
    }
}

// A fraction of a sample goes through the windowed sinc: within its stated accuracy (-90 dB of
// full scale) of the DI as heard that much later; --align-di adds only its estimate's error.
TEST_F(Analysis, FractionalDelaysAreWithinTheInterpolatorsAccuracy) {
    const int rate = 48000;
    const double truth = 40.37;
    const synthetic::Strings strings(8000.0, 1);
    auto diAt = [&](std::size_t j, double delay) { return static_cast<float>(0.6 * strings.at((j - delay) / rate)); };
    std::vector<float> take = synthetic::take(rate, 1.0, truth), exact = take, early = take;
    const std::size_t frames = take.size() / 3;
    for (std::size_t j = 0; j < frames; ++j) exact[3 * j + 2] = diAt(j, truth);
    write("take.wav", take, 3);
    write("exact.wav", exact, 3);
    const std::vector<float> expected = rendered("-i " + path("exact.wav") + " " + kDiAlone);
    auto worstAndRms = [&](const std::vector<float>& got, double& worst, double& rms) {
        worst = rms = 0;
        // Away from the ends, where the moved DI meets silence and the exact one does not.
        for (std::size_t j = 100; j + 100 < frames; ++j) {
            const double e = got[3 * j + 2] - expected[3 * j + 2];
            worst = std::max(worst, std::abs(e));
            rms += e * e;
        }
        rms = std::sqrt(rms / static_cast<double>(frames - 200));
    };
    double worst = 0, rms = 0;
    worstAndRms(rendered("--di-delay \"40.37 samples\" -i " + path("take.wav") + " " + kDiAlone), worst, rms);
    EXPECT_LT(worst, std::pow(10.0, -90.0 / 20.0) + 1e-6) << "the sinc, with float rounding";

    const std::vector<float> aligned = rendered("--align-di -i " + path("take.wav") + " " + kDiAlone);
    worstAndRms(aligned, worst, rms);
    // Unaligned, the residual would be as loud as the DI (about -10 dBFS RMS); aligned, it is
    // what 0.05 samples of error at most leave of content up to 8 kHz: under -50 dB.
    EXPECT_LT(20 * std::log10(rms), -50.0);
    // The take's length is kept.
    EXPECT_EQ(aligned.size(), expected.size());
}

TEST_F(Analysis, AligningTheDiTakesTheCombOutOfTheLowEnd) {
    // The DI mixed into the pair, 1 ms ahead of the microphones; then also inverted.
    for (double polarity : {1.0, -1.0}) {
        write("take.wav", synthetic::take(48000, 4.0, 48, polarity), 3);
        const std::string take = "-i " + path("take.wav") + " --param \"DI level=0\"";
        json before = analyze(take);
        json& mid = before["di_alignment"]["mid"];
        const double delay = mid["delay_samples"].get<double>();
        const bool inverted = mid["polarity"] == "inverted";
        EXPECT_EQ(inverted, polarity < 0);
        char shift[64];
        std::snprintf(shift, sizeof shift, " --di-delay \"%.4f samples\"%s", delay, inverted ? " --di-polarity invert" : "");
        json after = analyze(take + shift);
        const double lossBefore = before["balance"]["di_mix_low_end_loss_db"].get<double>();
        const double lossAfter = after["balance"]["di_mix_low_end_loss_db"].get<double>();
        EXPECT_GT(lossBefore, 1.5) << polarity;
        EXPECT_LT(lossAfter, 0.3) << polarity;
        EXPECT_LT(after["balance"]["mono_sum_loss_db"].get<double>(), before["balance"]["mono_sum_loss_db"].get<double>() + 1e-9);
        // Once moved, what is left to move is nothing.
        EXPECT_NEAR(after["di_alignment"]["mid"]["delay_samples"].get<double>(), 0.0, 0.05);
        EXPECT_EQ(after["di_alignment"]["mid"]["polarity"], "same");
        EXPECT_TRUE(contains(before["advice"].dump(), "lose")) << before["advice"].dump();
    }
}

// ffmpeg's ebur128 filter on the same decoded audio: integrated loudness, range and true peak.
TEST_F(Analysis, LoudnessAndTruePeakAgreeWithFfmpeg) {
    if (std::system("command -v ffmpeg > /dev/null") != 0) {
        if (std::getenv("REQUIRE_FFMPEG")) FAIL() << "ffmpeg is not installed";
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    const struct {
        int rate;
        double seconds, delay;
        std::string settings;
        bool demo;  // the demo's strummed strings, whose pickup is bright: peaks between samples
    } takes[] = {
        {44100, 12, 20, "", false},
        {48000, 15, 68.16, "--param \"DI level=0\" --param \"stereo width=-40\"", false},
        {96000, 10, -30, "--param \"main output trim=6\" --param \"DI level=-6\"", false},
        {48000, 8, 0, "--param \"DI level=0\"", true},
        {44100, 12, 0, "--param \"DI level=6\" --param \"stereo width=50\"", true},
    };
    for (const auto& t : takes) {
        if (t.demo) {
            std::string error;
            ASSERT_TRUE(vstrender::writeDemoTake(path("take.wav"), t.rate, t.seconds, error)) << error;
        } else {
            std::vector<float> take = synthetic::take(t.rate, t.seconds, t.delay);
            // Louder and quieter passages, so the loudness range has something to measure.
            for (std::size_t j = 0; j < take.size(); ++j)
                take[j] *= static_cast<float>(0.2 + 0.8 * (static_cast<double>(j / 3) / t.rate > t.seconds / 2));
            write("take.wav", take, 3, t.rate);
        }
        const std::string in = "-i " + path("take.wav") + " " + t.settings;
        rendered(in + " --bits float");
        // ffmpeg's summary rounds to 0.1; its metadata of the last frame says more.
        const std::string meta = path("meta.txt");
        ASSERT_EQ(0, std::system(("ffmpeg -nostats -hide_banner -loglevel error -i " + path("out.wav") +
                                  " -af ebur128=peak=true:metadata=1,ametadata=print:file=" + meta + " -f null -")
                                     .c_str()));
        std::ifstream file(meta);
        const std::string words((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        auto last = [&](const std::string& key) {
            const std::size_t at = words.rfind("lavfi.r128." + key + "=");
            EXPECT_NE(at, std::string::npos) << key;
            return at == std::string::npos ? NAN : std::stod(words.substr(at + key.size() + 12));
        };
        json j = analyze(in);
        EXPECT_NEAR(j["loudness"]["integrated_lufs"].get<double>(), last("I"), 0.1) << t.rate;
        EXPECT_NEAR(j["loudness"]["range_lu"].get<double>(), last("LRA"), 0.1) << t.rate;
        EXPECT_NEAR(j["loudness"]["true_peak_dbtp"].get<double>(), 20 * std::log10(last("true_peak")), 0.1) << t.rate;
    }
}

TEST_F(Analysis, TheLargestMainTrimKeepsTheTruePeakAtMinusOneDbtp) {
    std::vector<float> take = synthetic::take(48000, 3.0, 10);
    for (float& v : take) v *= 3.0f;  // the decoded pair goes over
    write("take.wav", take, 3);
    const std::string in = "-i " + path("take.wav") + " --param \"DI level=0\"";
    json j = analyze(in);
    ASSERT_GT(j["loudness"]["true_peak_dbtp"].get<double>(), -1.0);
    const double trim = j["loudness"]["largest_main_output_trim_db"].get<double>();
    EXPECT_LT(trim, 0.0);
    EXPECT_TRUE(contains(j["advice"].dump(), "set the main output trim to")) << j["advice"].dump();
    char setting[64];
    std::snprintf(setting, sizeof setting, " --param \"main output trim=%.1f\"", trim);
    EXPECT_LE(analyze(in + setting)["loudness"]["true_peak_dbtp"].get<double>(), -1.0);
    std::snprintf(setting, sizeof setting, " --param \"main output trim=%.1f\"", trim + 0.1);
    EXPECT_GT(analyze(in + setting)["loudness"]["true_peak_dbtp"].get<double>(), -1.0);
}

TEST_F(Analysis, DrawsItsSheet) {
    write("take.wav", synthetic::take(48000, 2.0, 30), 3);
    const Outcome o = render("--analyze -i " + path("take.wav") + " --plot " + path("sheet.png"));
    EXPECT_EQ(o.status, 0) << o.output;
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgba;
    std::string error;
    ASSERT_TRUE(vstrender::readPng(path("sheet.png"), width, height, rgba, error)) << error;
    EXPECT_EQ(width, 1200);
    EXPECT_GT(height, 800);
    EXPECT_FALSE(fs::exists(path("sheet.png.partial")));
    // An existing picture is kept unless --overwrite says so.
    EXPECT_EQ(render("--analyze -i " + path("take.wav") + " --plot " + path("sheet.png")).status, 2);
}

// Peak memory of a run, in kilobytes.
long peakKilobytes(const std::string& command) {
    const pid_t child = fork();
    if (child == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
    return usage.ru_maxrss;
}

TEST_F(Analysis, MemoryDoesNotGrowWithTheTake) {
    // Written block by block: noise, the DI 68 samples ahead of the mid microphone.
    auto writeLong = [&](const std::string& name, int seconds) {
        SF_INFO info{};
        info.samplerate = 48000;
        info.channels = 3;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        SNDFILE* file = sf_open(path(name).c_str(), SFM_WRITE, &info);
        synthetic::Noise noise(9);
        std::vector<float> block(3 * 48000), history(68, 0.0f);
        std::size_t at = 0;
        for (int s = 0; s < seconds; ++s) {
            for (std::size_t j = 0; j < 48000; ++j) {
                const float di = 0.3f * static_cast<float>(noise());
                block[3 * j] = history[at] + 0.01f * static_cast<float>(noise());
                block[3 * j + 1] = 0.1f * static_cast<float>(noise());
                block[3 * j + 2] = history[at] = di;
                at = (at + 1) % history.size();
            }
            sf_writef_float(file, block.data(), 48000);
        }
        sf_close(file);
    };
    writeLong("short.wav", 10);
    writeLong("long.wav", 150);
    const std::string program = std::string(VSTRENDER_PATH) + " --analyze --json -i ";
    const long shortTake = peakKilobytes(program + path("short.wav") + " > /dev/null");
    const long longTake = peakKilobytes(program + path("long.wav") + " > " + path("long.json"));
    EXPECT_LT(longTake, shortTake + 2048) << "15 times the take, " << longTake - shortTake << " KB more";
    std::ifstream in(path("long.json"));
    json j = json::parse(in);
    EXPECT_NEAR(j["di_alignment"]["mid"]["delay_samples"].get<double>(), 68.0, 0.05);
}

}  // namespace

namespace {

std::vector<double> channelOf(const std::vector<float>& interleaved, std::size_t channels, std::size_t c) {
    std::vector<double> out(interleaved.size() / channels);
    for (std::size_t j = 0; j < out.size(); ++j) out[j] = interleaved[channels * j + c];
    return out;
}

}  // namespace

// --align-di --match-di at three rates, through a room: the DI the render gives has the mid
// microphone's third-octave bands (the overall difference aside) and its own level, and a take
// of the microphones with it has the DI lined up with the mid. --analyze says so before it.
TEST_F(Analysis, MatchingTheDiGivesItTheMidsBandsAndLinesItUp) {
    for (const auto& [rate, delay] : {std::pair{44100, 31.3}, {48000, 72.0}, {96000, -40.55}}) {
        SCOPED_TRACE(rate);
        const std::vector<float> take = tonetake::take(rate, 12.0, delay);
        write("tone.wav", take, 3, rate);
        const json before = analyze("-i " + path("tone.wav"))["di_tone_match"];
        ASSERT_TRUE(before["learned"].get<bool>());
        double worstAfter = 0;
        for (const json& band : before["third_octave_bands"]) worstAfter = std::max(worstAfter, std::abs(band["di_to_mid_after_db"].get<double>()));
        EXPECT_LT(worstAfter, 1.0);
        EXPECT_NEAR(before["matched_delay_samples"].get<double>(), 0.0, 0.05);

        const Outcome o = render("--align-di --match-di -i " + path("tone.wav") + " -o " + path("out.wav") + " --overwrite " + kDiAlone);
        ASSERT_EQ(o.status, 0) << o.output;
        EXPECT_TRUE(contains(o.output, "Matching the DI's tone to the mid microphone: +")) << o.output;
        EXPECT_TRUE(contains(o.output, "Aligning the DI as matched")) << o.output;
        SF_INFO info;
        const std::vector<double> di = channelOf(readAll(path("out.wav"), info), 3, 2), mid = channelOf(take, 3, 0);
        EXPECT_NEAR(tonetake::rmsDb(di), tonetake::rmsDb(channelOf(take, 3, 2)), 0.5);
        const std::vector<double> a = tonetake::thirdOctaves(di, rate), m = tonetake::thirdOctaves(mid, rate),
                                  raw = tonetake::thirdOctaves(channelOf(take, 3, 2), rate);
        double offset = 0, rawOffset = 0, worstRaw = 0;
        for (std::size_t b = 0; b < a.size(); ++b)
            offset += (a[b] - m[b]) / static_cast<double>(a.size()), rawOffset += (raw[b] - m[b]) / static_cast<double>(a.size());
        for (std::size_t b = 0; b < a.size(); ++b) {
            EXPECT_NEAR(a[b] - m[b], offset, 1.0) << "band " << b;
            worstRaw = std::max(worstRaw, std::abs(raw[b] - m[b] - rawOffset));
        }
        EXPECT_GT(worstRaw, 6.0);

        std::vector<float> lined = take;
        for (std::size_t j = 0; j < di.size(); ++j) lined[3 * j + 2] = static_cast<float>(di[j]);
        write("lined.wav", lined, 3, rate);
        const json after = analyze("-i " + path("lined.wav"));
        EXPECT_NEAR(after["di_alignment"]["mid"]["delay_samples"].get<double>(), 0.0, 0.05);
    }
}

// A DI and microphones that share nothing: the match is held flat, said in words.
TEST_F(Analysis, AnUnrelatedDiGivesAFlatMatchSaidInWords) {
    std::vector<float> take = synthetic::roomTake(48000, 6.0, 40.0, 1.0, 4);
    const std::vector<double> other = synthetic::pluckedNotes(48000, take.size() / 3, 9);
    for (std::size_t j = 0; j < other.size(); ++j) take[3 * j + 2] = static_cast<float>(other[j]);
    write("unrelated.wav", take, 3);
    const Outcome o = render("--analyze -i " + path("unrelated.wav"));
    EXPECT_TRUE(contains(o.output, "held flat: the DI and the mid microphone share too little")) << o.output;
    const json j = analyze("-i " + path("unrelated.wav"))["di_tone_match"];
    EXPECT_FALSE(j["learned"].get<bool>());
    for (const json& v : j["curve_db"]) EXPECT_EQ(v.get<double>(), 0.0);
    const Outcome refused = render("--match-di -i " + path("unrelated.wav") + " -o " + path("x.wav"));
    EXPECT_EQ(refused.status, 2);
    EXPECT_TRUE(contains(refused.output, "--match-di learns the match with the alignment")) << refused.output;
}
