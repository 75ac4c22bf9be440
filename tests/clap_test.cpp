// The CLAP plug-in through a host of our own: the entry and descriptor, the lifecycle on the
// threads the interface gives each call, ports, parameters, events that act from their own
// frame, state through short and failing streams, and the same bits as the VST 2 module.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "effect/decoder_parameters.h"
#include "host/clap_host.h"
#include "host/threads.h"
#include "preset_state.h"
#include "alignment_cases.h"
#include "far_values.h"
#include "plugin_fixture.h"
#include "entry/embedded_decoder.h"
#include "entry/factory_presets.h"
#include "align/tone_match.h"

namespace {

constexpr char kId[] = "net.brelvander.guitar-decoder";

const claphost::Module& clapModule() {
    static std::unique_ptr<claphost::Module> module = [] {
        std::string error;
        auto loaded = claphost::Module::load(VINTREL_CLAP_PATH, error);
        if (!loaded) {
            ADD_FAILURE() << error;
            std::abort();
        }
        return loaded;
    }();
    return *module;
}

std::unique_ptr<claphost::Plugin> activePlugin() {
    auto p = claphost::Plugin::create(clapModule(), kId);
    if (!p || !p->activate(48000.0, 4096)) ADD_FAILURE() << "no active plug-in";
    return p;
}

template <class Sample>
void fillTake(Channels3<Sample>& io, std::uint32_t seed) {
    for (int k = 0; k < 3; ++k)
        for (auto& s : io.in[k]) {
            seed = seed * 1664525u + 1013904223u;
            s = static_cast<Sample>((static_cast<double>(seed >> 8) / 8388608.0 - 1.0) * 0.6);
        }
}

template <class Sample>
bool sameBits(const std::vector<Sample>& a, const std::vector<Sample>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(Sample)) == 0;
}

// A value in display units as the VST 2 host sets it: its normalised float.
float normalised(clap_id id, double value) {
    const decoder::Parameter& row = decoder::kParameters[id];
    return static_cast<float>((value - row.min) / (row.max - row.min));
}

TEST(ClapEntry, DescribesOneAudioEffect) {
    const auto& entry = clapModule().entry();
    EXPECT_EQ(entry.clap_version.major, 1u);
    EXPECT_EQ(entry.get_factory("clap.no-such-factory"), nullptr);
    const auto& factory = clapModule().factory();
    ASSERT_EQ(factory.get_plugin_count(&factory), 1u);
    const clap_plugin_descriptor_t* d = factory.get_plugin_descriptor(&factory, 0);
    ASSERT_NE(d, nullptr);
    EXPECT_STREQ(d->id, kId);
    EXPECT_STREQ(d->name, "Brelvander_3-channel acoustic guit decoder MS + DI");
    EXPECT_STREQ(d->vendor, "Brelvander");
    EXPECT_STREQ(d->version, "1.0.0");
    std::vector<std::string> features;
    for (const char* const* f = d->features; *f; ++f) features.push_back(*f);
    EXPECT_EQ(features.front(), "audio-effect");
    EXPECT_EQ(factory.get_plugin_descriptor(&factory, 1), nullptr);
    EXPECT_EQ(claphost::Plugin::create(clapModule(), "net.brelvander.other"), nullptr);
}

TEST(ClapPorts, OneThreeChannelMainPortEachWayInPlacePairs) {
    auto p = claphost::Plugin::create(clapModule(), kId);
    ASSERT_TRUE(p);
    const auto* ports = p->extension<clap_plugin_audio_ports_t>(CLAP_EXT_AUDIO_PORTS);
    ASSERT_NE(ports, nullptr);
    for (bool input : {true, false}) {
        ASSERT_EQ(ports->count(&p->plugin(), input), 1u);
        clap_audio_port_info_t info;
        ASSERT_TRUE(ports->get(&p->plugin(), 0, input, &info));
        EXPECT_EQ(info.channel_count, 3u);
        EXPECT_TRUE(info.flags & CLAP_AUDIO_PORT_IS_MAIN);
        EXPECT_TRUE(info.flags & CLAP_AUDIO_PORT_SUPPORTS_64BITS);
        EXPECT_EQ(info.in_place_pair, input ? 1u : 0u);
        EXPECT_FALSE(ports->get(&p->plugin(), 1, input, &info));
    }
    const auto* latency = p->extension<clap_plugin_latency_t>(CLAP_EXT_LATENCY);
    const auto* tail = p->extension<clap_plugin_tail_t>(CLAP_EXT_TAIL);
    ASSERT_TRUE(latency && tail);
    EXPECT_EQ(latency->get(&p->plugin()), 0u);
    EXPECT_EQ(tail->get(&p->plugin()), 0u);
}

TEST(ClapParams, RangesFlagsTextsAndFlush) {
    auto p = claphost::Plugin::create(clapModule(), kId);
    ASSERT_TRUE(p);
    const auto* params = p->extension<clap_plugin_params_t>(CLAP_EXT_PARAMS);
    ASSERT_NE(params, nullptr);
    ASSERT_EQ(params->count(&p->plugin()), 15u);
    struct Expected {
        const char* name;
        double min, max, def;
        bool isSwitch;
    };
    const Expected rows[15] = {{"mid channel trim", -12, 12, 0, false}, {"side channel trim", -12, 12, 0, false},
                               {"output trim", -150, 12, 0, false},     {"stereo width", -120, 120, 0, false},
                               {"L/R swap", 0, 1, 0, true},             {"DI level", -150, 12, -150, false},
                               {"DI pan to L/R", -120, 120, 0, false},  {"DI routing", 0, 1, 0, true},
                               {"A/B MS", 0, 1, 0, true},               {"active channels", 0, 2, 0, true},
                               {"main output trim", -10, 10, 0, false}, {"DI delay", -10, 10, 0, false},
                               {"DI polarity", 0, 1, 0, true},          {"bypass", 0, 1, 0, true},
                               {"DI match", 0, 100, 0, false}};
    for (std::uint32_t i = 0; i < 15; ++i) {
        clap_param_info_t info;
        ASSERT_TRUE(params->get_info(&p->plugin(), i, &info));
        EXPECT_EQ(info.id, i);
        EXPECT_STREQ(info.name, rows[i].name);
        EXPECT_EQ(info.min_value, rows[i].min);
        EXPECT_EQ(info.max_value, rows[i].max);
        EXPECT_EQ(info.default_value, rows[i].def);
        EXPECT_TRUE(info.flags & CLAP_PARAM_IS_AUTOMATABLE);
        EXPECT_EQ((info.flags & CLAP_PARAM_IS_STEPPED) != 0, rows[i].isSwitch);
        EXPECT_EQ((info.flags & CLAP_PARAM_IS_ENUM) != 0, rows[i].isSwitch);
        EXPECT_EQ((info.flags & CLAP_PARAM_IS_BYPASS) != 0, i == 13);  // hosts' soft bypass
        EXPECT_EQ(p->value(i), rows[i].def);
    }
    clap_param_info_t info;
    EXPECT_FALSE(params->get_info(&p->plugin(), 15, &info));

    char text[64];
    auto toText = [&](clap_id id, double v) {
        return params->value_to_text(&p->plugin(), id, v, text, sizeof text) ? std::string(text) : "(refused)";
    };
    EXPECT_EQ(toText(3, 40.0), "40.00");
    EXPECT_EQ(toText(2, -3.0), "-3.00 dB");
    EXPECT_EQ(toText(5, -60.04), "-60.00 dB");  // quantised as a set would
    EXPECT_EQ(toText(4, 1.0), "swapped");
    EXPECT_EQ(toText(9, 2.0), "DI only");
    EXPECT_EQ(toText(11, 1.51234), "1.5123 ms");  // on the delay's grid of 0.0001 ms
    EXPECT_EQ(toText(12, 1.0), "inverted");
    EXPECT_EQ(toText(14, 33.333), "33.3 %");
    EXPECT_EQ(toText(13, 1.0), "on");
    EXPECT_EQ(toText(15, 0.0), "(refused)");
    double v = 0;
    EXPECT_TRUE(params->text_to_value(&p->plugin(), 4, "Swapped", &v));
    EXPECT_EQ(v, 1.0);
    EXPECT_TRUE(params->text_to_value(&p->plugin(), 5, "-12 dB", &v));
    EXPECT_EQ(v, -12.0);
    EXPECT_TRUE(params->text_to_value(&p->plugin(), 3, "-30", &v));
    EXPECT_EQ(v, -30.0);
    EXPECT_FALSE(params->text_to_value(&p->plugin(), 3, "wide", &v));
    EXPECT_FALSE(params->text_to_value(&p->plugin(), 4, "", &v));
    EXPECT_TRUE(params->text_to_value(&p->plugin(), 11, "-2.5 ms", &v));
    EXPECT_EQ(v, -2.5);
    EXPECT_TRUE(params->text_to_value(&p->plugin(), 12, "Inverted", &v));
    EXPECT_EQ(v, 1.0);
    EXPECT_TRUE(params->text_to_value(&p->plugin(), 14, "25 %", &v));
    EXPECT_EQ(v, 25.0);
    EXPECT_FALSE(params->text_to_value(&p->plugin(), 15, "1", &v));

    // Flushed outside processing: the values are the plug-in's at once.
    p->flush({{0, 3, 55.5}, {0, 9, 1.0}, {0, 5, std::numeric_limits<double>::quiet_NaN()}, {0, 77, 1.0}});
    EXPECT_NEAR(p->value(3), 55.5, 1e-9);
    EXPECT_EQ(p->value(9), 1.0);
    EXPECT_EQ(p->value(5), -150.0);  // a NaN changes nothing
}

// Processing and the lifecycle on an audio thread of its own, both precisions, against the
// VST 2 module with the same settings: the same bits.
template <class Sample>
void compareWithVst2(bool inPlace) {
    auto p = activePlugin();
    Decoder vst2;
    vst2.start(48000.0f, 4096);
    const std::vector<claphost::ParamChange> settings = {{0, 3, 40.0}, {0, 5, -12.0}, {0, 6, -40.0}, {0, 10, 1.5}};
    for (const auto& s : settings) vst2.setParameter(static_cast<VstInt32>(s.id), normalised(s.id, s.value));
    Channels3<Sample> clapIo(2000, inPlace), vst2Io(2000);
    fillTake(clapIo, 7);
    fillTake(vst2Io, 7);
    host::runOnAnotherThread(
        [&] { EXPECT_EQ(p->process(clapIo.inputs, clapIo.outputs, 2000, settings), CLAP_PROCESS_CONTINUE); });
    vst2.process(vst2Io.inputs, vst2Io.outputs, 2000);
    for (int k = 0; k < 3; ++k)
        EXPECT_TRUE(sameBits(inPlace ? clapIo.in[k] : clapIo.out[k], vst2Io.out[k])) << "channel " << k;
}

TEST(ClapProcessing, SameBitsAsTheVst2ModuleInBothPrecisionsInPlaceOrNot) {
    compareWithVst2<float>(false);
    compareWithVst2<float>(true);
    compareWithVst2<double>(false);
    compareWithVst2<double>(true);
}

// Events at frames 0, 1, 100, 101 and 300 of one 512-frame block act from exactly those frames:
// the VST 2 module processing the spans between them, with each change made in between, gives
// the same bits.
template <class Sample>
void eventsActFromTheirFrames() {
    const std::vector<claphost::ParamChange> changes = {
        {0, 3, -30.0}, {1, 5, 0.0}, {100, 7, 1.0}, {100, 3, 60.0}, {101, 4, 1.0}, {300, 2, -20.0}, {300, 9, 1.0}};
    auto p = activePlugin();
    Channels3<Sample> clapIo(512), vst2Io(512);
    fillTake(clapIo, 3);
    fillTake(vst2Io, 3);
    host::runOnAnotherThread([&] { p->process(clapIo.inputs, clapIo.outputs, 512, changes); });

    Decoder vst2;
    vst2.start(48000.0f, 512);
    std::uint32_t done = 0;
    auto span = [&](std::uint32_t to) {
        Sample* in[3];
        Sample* out[3];
        for (int k = 0; k < 3; ++k) in[k] = vst2Io.inputs[k] + done, out[k] = vst2Io.outputs[k] + done;
        vst2.process(in, out, static_cast<VstInt32>(to - done));
        done = to;
    };
    for (const auto& c : changes) {
        span(c.frame);
        vst2.setParameter(static_cast<VstInt32>(c.id), normalised(c.id, c.value));
    }
    span(512);
    for (int k = 0; k < 3; ++k) EXPECT_TRUE(sameBits(clapIo.out[k], vst2Io.out[k])) << "channel " << k;
    // The same changes all at frame 0 give other samples before frame 300 and the same after it.
    std::vector<claphost::ParamChange> atOnce = changes;
    for (auto& c : atOnce) c.frame = 0;
    auto q = activePlugin();
    Channels3<Sample> early(512);
    fillTake(early, 3);
    host::runOnAnotherThread([&] { q->process(early.inputs, early.outputs, 512, atOnce); });
    for (int k = 0; k < 2; ++k) {
        EXPECT_NE(std::memcmp(early.out[k].data(), clapIo.out[k].data(), 300 * sizeof(Sample)), 0);
        EXPECT_EQ(std::memcmp(early.out[k].data() + 300, clapIo.out[k].data() + 300, 212 * sizeof(Sample)), 0);
    }
}

TEST(ClapProcessing, EventsActFromExactlyTheirFrames) {
    eventsActFromTheirFrames<float>();
    eventsActFromTheirFrames<double>();
}

// A far value in a state, one parameter at a time: held at the range's end, and the audio in
// both precisions within the loudest gain the ranges allow.
template <class Sample>
::testing::AssertionResult decodesWithinRange(claphost::Plugin& p) {
    Channels3<Sample> io(256);
    fillTake(io, 11);
    host::runOnAnotherThread([&] { p.process(io.inputs, io.outputs, 256); });
    return withinTheLoudestGain(io.inputs, io.outputs, 256);
}

TEST(ClapState, FarValuesAreHeldAtTheRangeEndsAndNeverBlast) {
    for (std::size_t id = 0; id < decoder::kParameters.size(); ++id)
        for (float extreme : kFarValues) {
            SCOPED_TRACE(testing::Message() << decoder::kParameters[id].name << " at " << extreme);
            auto p = activePlugin();
            std::vector<std::uint8_t> fresh;
            ASSERT_TRUE(p->saveState(fresh));
            ASSERT_TRUE(p->loadState(stateWith(fresh, id, extreme)));
            EXPECT_EQ(p->value(static_cast<clap_id>(id)), heldAt(id, extreme));
            EXPECT_TRUE(decodesWithinRange<float>(*p));
            EXPECT_TRUE(decodesWithinRange<double>(*p));
        }
}

// CLAP values are plain: a value past either end of the range, as far as a normalised 1.5, -0.5
// or 1e6 would reach, acts as that end, in events and in a flush.
TEST(ClapParams, ValuesPastEitherEndActAsThatEnd) {
    for (clap_id id = 0; id < 11; ++id)
        for (double x : {1.5, -0.5, 1e6}) {
            const decoder::Parameter& row = decoder::kParameters[id];
            const double value = row.min + x * (row.max - row.min), end = x > 0 ? row.max : row.min;
            auto p = activePlugin(), reference = activePlugin();
            Channels3<float> io(64), expected(64);
            fillTake(io, 13);
            fillTake(expected, 13);
            host::runOnAnotherThread([&] {
                p->process(io.inputs, io.outputs, 64, {{0, id, value}});
                reference->process(expected.inputs, expected.outputs, 64, {{0, id, end}});
            });
            for (int k = 0; k < 3; ++k) EXPECT_TRUE(sameBits(io.out[k], expected.out[k])) << id << " at " << x;
            EXPECT_EQ(p->value(id), reference->value(id)) << id << " at " << x;
            auto flushed = activePlugin();
            flushed->flush({{0, id, value}});
            EXPECT_EQ(flushed->value(id), reference->value(id)) << id << " at " << x;
        }
}

TEST(ClapState, RoundTripsThroughStreamsOfOneToSevenBytesPerCall) {
    auto source = activePlugin();
    source->flush({{0, 3, 77.7}, {0, 4, 1.0}, {0, 5, -33.3}, {0, 9, 2.0}, {0, 10, -4.2}, {0, 11, 1.2345}, {0, 12, 1.0}});
    std::vector<std::uint8_t> whole;
    ASSERT_TRUE(source->saveState(whole));
    EXPECT_EQ(whole.size(), 732u);  // the decoder's 260-byte chunk and the formats' block
    for (std::size_t step = 1; step <= 7; ++step) {
        SCOPED_TRACE(step);
        std::vector<std::uint8_t> saved;
        ASSERT_TRUE(source->saveState(saved, step));
        EXPECT_EQ(saved, whole);
        auto target = activePlugin();
        ASSERT_TRUE(target->loadState(saved, step));
        // The chunk carries 32-bit floats, as the VST 2 module saves them.
        for (clap_id id = 0; id < 11; ++id)
            EXPECT_EQ(target->value(id), static_cast<double>(static_cast<float>(source->value(id)))) << "parameter " << id;
        // The alignment's block keeps the delay's double.
        EXPECT_EQ(target->value(11), 1.2345);
        EXPECT_EQ(target->value(12), 1.0);
        EXPECT_EQ(target->rescans(), 1);  // the host is told its values changed
        EXPECT_EQ(target->wrongThreadCalls(), 0);
    }
}

TEST(ClapState, AFailingStreamLoadsNothingAndFailsTheSave) {
    auto source = activePlugin();
    source->flush({{0, 3, 77.7}, {0, 9, 2.0}});
    std::vector<std::uint8_t> saved, partial;
    ASSERT_TRUE(source->saveState(saved));
    EXPECT_FALSE(source->saveState(partial, 7, 100));

    auto target = activePlugin();
    for (std::size_t failAfter : {std::size_t{0}, std::size_t{4}, std::size_t{130}, std::size_t{259}}) {
        EXPECT_FALSE(target->loadState(saved, 3, failAfter)) << failAfter;
        EXPECT_EQ(target->value(3), 0.0);
        EXPECT_EQ(target->value(9), 0.0);
    }
    // A chunk that is not whole floats, or is too short, is refused as well.
    std::vector<std::uint8_t> odd(saved.begin(), saved.begin() + 130);
    EXPECT_FALSE(target->loadState(odd));
    EXPECT_FALSE(target->loadState({}));
    EXPECT_EQ(target->value(3), 0.0);
    EXPECT_EQ(target->rescans(), 0);
}

// The DI's alignment through the CLAP interface: the take decoded by a plug-in with this
// delay and polarity (set before activation, so the latency is told there), in blocks.
template <class Sample>
alignment::Channels<Sample> decodedWithAlignment(const alignment::Channels<Sample>& in, double delayMs, bool invert,
                                                 std::uint32_t* latency = nullptr, std::uint32_t block = 512) {
    auto p = claphost::Plugin::create(clapModule(), kId);
    p->flush({{0, alignment::kDiLevel, 0.0}, {0, alignment::kDiRouting, 1.0}, {0, alignment::kDelay, delayMs},
              {0, alignment::kPolarity, invert ? 1.0 : 0.0}});
    EXPECT_TRUE(p->activate(alignment::kRate, 4096));
    const std::uint32_t told = p->extension<clap_plugin_latency_t>(CLAP_EXT_LATENCY)->get(&p->plugin());
    EXPECT_EQ(p->latencyChanges, told > 0 ? 1 : 0);  // told once, in activate, and only a change
    if (latency) *latency = told;
    alignment::Channels<Sample> out;
    for (auto& c : out) c.assign(in[0].size(), Sample(0));
    host::runOnAnotherThread([&] {
        for (std::size_t at = 0; at < in[0].size(); at += block) {
            const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(block, in[0].size() - at));
            const Sample* i[] = {in[0].data() + at, in[1].data() + at, in[2].data() + at};
            Sample* o[] = {out[0].data() + at, out[1].data() + at, out[2].data() + at};
            p->process(const_cast<Sample**>(i), o, n);
        }
    });
    EXPECT_EQ(p->restartRequests, 0);  // nothing changed after activation
    return out;
}

template <class Sample>
void wholeSampleAlignments() {
    const alignment::Take take;
    const auto in = take.channels<Sample>(6000);
    // 1 ms is 48 samples; -0.5 ms is 24 samples of the microphones' latency.
    for (const auto& [ms, shift] : {std::pair{0.0, 0}, {1.0, 48}, {-0.5, -24}, {10.0, 480}, {-10.0, -480}})
        for (bool invert : {false, true}) {
            SCOPED_TRACE(testing::Message() << ms << " ms" << (invert ? ", inverted" : ""));
            std::uint32_t latency = 0;
            const auto aligned = decodedWithAlignment(in, ms, invert, &latency);
            EXPECT_EQ(latency, static_cast<std::uint32_t>(std::max(0, -shift)));
            const auto l = static_cast<std::ptrdiff_t>(latency);
            const auto expected = decodedWithAlignment(alignment::movedByHand(in, l, shift + l, invert), 0.0, false);
            for (int k = 0; k < 3; ++k) EXPECT_TRUE(sameBits(aligned[k], expected[k])) << "output " << k + 1;
        }
}

TEST(ClapAlignment, WholeSamplesMoveTheDiExactlyAndNegativeDelaysReportTheirLatency) {
    wholeSampleAlignments<float>();
    wholeSampleAlignments<double>();
}

TEST(ClapAlignment, FractionsAreWithinTheKernelsAccuracyOfTheDiHeardThatMuchLater) {
    const alignment::Take take;
    const auto in = take.channels<double>(6000);
    // The whole 64-tap kernel: within -90 dB of full scale (the take reaches 9 kHz, under 0.45
    // of the rate); a negative fraction has its latency to bring the whole kernel.
    const double within = std::pow(10.0, -90.0 / 20.0);
    for (double ms : {1.5125, 0.7001, 9.99, -0.3347, -7.2531}) {  // none within 0.02 samples of a whole number
        SCOPED_TRACE(testing::Message() << ms << " ms");
        std::uint32_t latency = 0;
        const auto out = decodedWithAlignment(in, ms, false, &latency);
        EXPECT_LT(alignment::worstDiError(take, out[2], ms * 48, latency), within);
    }
}

TEST(ClapAlignment, AChangeWhileRunningCrossfadesFromItsFrameAndAsksForARestartForNewLatency) {
    const alignment::Take take;
    const auto in = take.channels<float>(4096);
    auto p = activePlugin();
    p->flush({{0, alignment::kDiLevel, 0.0}, {0, alignment::kDiRouting, 1.0}});
    alignment::Channels<float> out;
    for (auto& c : out) c.assign(4096, 0.0f);
    const float* i[] = {in[0].data(), in[1].data(), in[2].data()};
    float* o[] = {out[0].data(), out[1].data(), out[2].data()};
    // 2 ms from frame 300 of a block. With no alignment before it the plug-in kept no past, so
    // the change begins once it has heard the 96 samples it reaches back to; nothing changes
    // before that, 5 ms later the output is the DI moved 96 samples, and between the two, it
    // lies between them. A negative delay then asks once for a restart, whatever follows.
    host::runOnAnotherThread([&] { p->process(const_cast<float**>(i), o, 4096, {{300, alignment::kDelay, 2.0}}); });
    const auto before = decodedWithAlignment(in, 0.0, false), after = decodedWithAlignment(in, 2.0, false);
    const std::size_t starts = 300 + 96, fade = 240;
    for (std::size_t j = 0; j < 4096; ++j) {
        const float y = out[2][j], a = before[2][j], b = after[2][j];
        if (j < starts) {
            ASSERT_EQ(y, a) << j;
        } else if (j >= starts + fade) {
            ASSERT_EQ(y, b) << j;
        } else {
            ASSERT_TRUE(y >= std::min(a, b) && y <= std::max(a, b)) << j;
        }
    }
    EXPECT_NE(out[2][starts + fade / 2], before[2][starts + fade / 2]);
    EXPECT_EQ(p->restartRequests, 0);
    host::runOnAnotherThread([&] {
        p->process(const_cast<float**>(i), o, 512, {{0, alignment::kDelay, -1.0}});
        p->process(const_cast<float**>(i), o, 512, {{0, alignment::kDelay, -2.0}});
    });
    EXPECT_EQ(p->restartRequests, 1);
    EXPECT_EQ(p->extension<clap_plugin_latency_t>(CLAP_EXT_LATENCY)->get(&p->plugin()), 0u);  // until the restart
    p->deactivate();
    ASSERT_TRUE(p->activate(48000, 4096));
    EXPECT_EQ(p->latencyChanges, 1);
    EXPECT_EQ(p->extension<clap_plugin_latency_t>(CLAP_EXT_LATENCY)->get(&p->plugin()), 96u);
    // An edit outside processing is heard at the flush.
    p->flush({{0, alignment::kDelay, 0.5}});
    EXPECT_EQ(p->restartRequests, 2);
}

// A state written before the alignment existed is the 260-byte chunk alone: no alignment. A
// block from a later version is read as far as this one knows it; values past the range are
// held at its ends.
TEST(ClapAlignment, StatesWithoutTheBlockOrWithFarValuesOrALongerBlock) {
    auto source = activePlugin();
    source->flush({{0, 3, 50.0}, {0, alignment::kDelay, 3.25}, {0, alignment::kPolarity, 1.0}});
    std::vector<std::uint8_t> state;
    ASSERT_TRUE(source->saveState(state));
    ASSERT_EQ(state.size(), 732u);
    auto target = activePlugin();
    target->flush({{0, alignment::kDelay, -4.0}, {0, alignment::kPolarity, 1.0}});
    ASSERT_TRUE(target->loadState(std::vector<std::uint8_t>(state.begin(), state.begin() + 260)));
    EXPECT_EQ(target->value(3), 50.0);
    EXPECT_EQ(target->value(alignment::kDelay), 0.0);
    EXPECT_EQ(target->value(alignment::kPolarity), 0.0);

    auto withDelay = [&](double ms, std::uint32_t version, std::size_t extra) {
        std::vector<std::uint8_t> s = state;
        std::memcpy(s.data() + 260 + 4, &version, 4);  // little-endian on every target we build
        const auto length = static_cast<std::uint32_t>(12 + extra);
        std::memcpy(s.data() + 260 + 8, &length, 4);
        std::memcpy(s.data() + 260 + 12, &ms, 8);
        s.insert(s.end(), extra, std::uint8_t{0x5A});
        return s;
    };
    const struct {
        double stored, loaded;
    } stored[] = {{1e9, 10.0}, {-INFINITY, -10.0}, {-10.00004, -10.0}, {std::nan(""), 0.0}, {1.23456789, 1.2346}};
    for (const auto& c : stored) {
        ASSERT_TRUE(target->loadState(withDelay(c.stored, 1, 0))) << c.stored;
        EXPECT_EQ(target->value(alignment::kDelay), c.loaded) << c.stored;
        EXPECT_EQ(target->value(alignment::kPolarity), 1.0);
    }
    ASSERT_TRUE(target->loadState(withDelay(-2.5, 7, 16)));  // a later version's longer block
    EXPECT_EQ(target->value(alignment::kDelay), -2.5);
    EXPECT_EQ(target->value(alignment::kPolarity), 1.0);
    EXPECT_EQ(target->value(3), 50.0);
}

// The host's soft bypass: bypassed, the three inputs are the three outputs bit for bit; a
// change while running crossfades between the decode and the inputs, without a step.
template <class Sample>
void bypassPassesTheInputs(bool inPlace) {
    auto p = claphost::Plugin::create(clapModule(), kId);
    p->flush({{0, 3, 40.0}, {0, 5, -6.0}, {0, 13, 1.0}, {0, alignment::kDelay, 1.5125}});
    ASSERT_TRUE(p->activate(48000.0, 4096));
    Channels3<Sample> io(2000, inPlace);
    fillTake(io, 3);
    const std::vector<Sample> in[3] = {io.in[0], io.in[1], io.in[2]};
    host::runOnAnotherThread([&] { p->process(io.inputs, io.outputs, 2000); });
    for (int k = 0; k < 3; ++k) EXPECT_TRUE(sameBits(inPlace ? io.in[k] : io.out[k], in[k])) << "channel " << k;
}

TEST(ClapBypass, BypassedTheInputsPassBitForBitAndAChangeCrossfades) {
    bypassPassesTheInputs<float>(false);
    bypassPassesTheInputs<float>(true);
    bypassPassesTheInputs<double>(false);
    bypassPassesTheInputs<double>(true);

    // On at frame 500 of a block: the decode before it, 5 ms between the two, then the inputs.
    const alignment::Take take;
    const auto in = take.channels<float>(2048);
    auto run = [&](const std::vector<claphost::ParamChange>& changes) {
        auto p = activePlugin();
        p->flush({{0, 3, 60.0}, {0, 5, -3.0}});
        alignment::Channels<float> out;
        for (auto& c : out) c.assign(2048, 0.0f);
        const float* i[] = {in[0].data(), in[1].data(), in[2].data()};
        float* o[] = {out[0].data(), out[1].data(), out[2].data()};
        host::runOnAnotherThread([&] { p->process(const_cast<float**>(i), o, 2048, changes); });
        return out;
    };
    const auto decoded = run({}), bypassing = run({{500, 13, 1.0}});
    for (int k = 0; k < 3; ++k)
        for (std::size_t j = 0; j < 2048; ++j) {
            const float y = bypassing[k][j], a = decoded[k][j], b = in[k][j];
            if (j < 500) {
                ASSERT_EQ(y, a) << k << " " << j;
            } else if (j >= 500 + 240) {
                ASSERT_EQ(y, b) << k << " " << j;
            } else {
                ASSERT_TRUE(y >= std::min(a, b) && y <= std::max(a, b)) << k << " " << j;
                // No step: each sample moves at most a 240th of the way more than the signals do.
                const float before = bypassing[k][j - 1];
                EXPECT_LE(std::abs(y - before), std::abs(a - decoded[k][j - 1]) + std::abs(b - in[k][j - 1]) +
                                                   std::abs(b - a) / 200 + 1e-6f)
                    << k << " " << j;
            }
        }
}

// Bypassed with a negative DI delay: the inputs delayed by the latency reported, bit for bit,
// in both precisions; bypassing and back crossfades between two signals in time.
template <class Sample>
void bypassInTime() {
    auto p = activePlugin();
    p->flush({{0, alignment::kDelay, -2.3}, {0, 13, 1.0}});
    p->deactivate();  // the restart the plug-in asks for, to tell its latency
    ASSERT_TRUE(p->activate(48000.0, 4096));
    const alignment::Take take;
    const auto in = take.channels<Sample>(4 * 512);
    alignment::Channels<Sample> out;
    for (auto& c : out) c.assign(in[0].size(), Sample(1));
    host::runOnAnotherThread([&] {
        for (std::size_t at = 0; at < in[0].size(); at += 512) {
            const Sample* i[] = {in[0].data() + at, in[1].data() + at, in[2].data() + at};
            Sample* o[] = {out[0].data() + at, out[1].data() + at, out[2].data() + at};
            p->process(const_cast<Sample**>(i), o, 512, {});
        }
    });
    const std::uint32_t latency = p->extension<clap_plugin_latency_t>(CLAP_EXT_LATENCY)->get(&p->plugin());
    EXPECT_EQ(latency, 142u);
    const auto want = alignment::movedByHand(in, latency, latency, false);
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(0, std::memcmp(out[k].data(), want[k].data(), out[k].size() * sizeof(Sample))) << "channel " << k;
}

TEST(ClapBypass, WithALatencyReportedTheInputsPassDelayedByIt) {
    bypassInTime<float>();
    bypassInTime<double>();
    // Back from the bypass: the decode, delayed as the bypass was, so the crossfade joins two
    // signals in time: with the DI alone on output 3 at 0 dB, the microphones' outputs never
    // jump by more than the signals move.
    auto p = activePlugin();
    p->flush({{0, alignment::kDelay, -2.3}, {0, 13, 1.0}, {0, alignment::kDiLevel, 0.0}, {0, alignment::kDiRouting, 1.0}});
    p->deactivate();
    ASSERT_TRUE(p->activate(48000.0, 4096));
    const alignment::Take take;
    const auto in = take.channels<float>(3 * 512);
    alignment::Channels<float> out;
    for (auto& c : out) c.assign(in[0].size(), 0.0f);
    host::runOnAnotherThread([&] {
        for (std::size_t at = 0; at < in[0].size(); at += 512) {
            const float* i[] = {in[0].data() + at, in[1].data() + at, in[2].data() + at};
            float* o[] = {out[0].data() + at, out[1].data() + at, out[2].data() + at};
            std::vector<claphost::ParamChange> changes;
            if (at == 1024) changes = {{100, 13, 0.0}};
            p->process(const_cast<float**>(i), o, 512, changes);
        }
    });
    // Output 3 is the DI alone, aligned: bypassed it is the DI delayed by the latency, decoded
    // the DI 2.3 ms earlier than that; both in time with the microphones' latency.
    for (std::size_t j = 1024 + 100 + 240; j < out[2].size(); ++j)
        ASSERT_NEAR(out[2][j], take.di(static_cast<double>(j) - 142 + 2.3 * 48), 1e-4) << j;
    for (std::size_t j = 0; j < 1024 + 100; ++j)
        ASSERT_EQ(out[2][j], j < 142 ? 0.0f : in[2][j - 142]) << j;
}

// The bypass is saved with the rest; a state from before it (the block's version 1) loads as not
// bypassed.
TEST(ClapBypass, SavedWithTheStateAndOlderStatesLoadAsNotBypassed) {
    auto source = activePlugin();
    source->flush({{0, 13, 1.0}, {0, alignment::kDelay, 2.0}});
    std::vector<std::uint8_t> state;
    ASSERT_TRUE(source->saveState(state));
    auto target = activePlugin();
    ASSERT_TRUE(target->loadState(state));
    EXPECT_EQ(target->value(13), 1.0);
    // Version 1: the delay and the polarity alone.
    std::vector<std::uint8_t> older(state.begin(), state.begin() + 284);
    const std::uint32_t version = 1, length = 12;
    std::memcpy(older.data() + 264, &version, 4);
    std::memcpy(older.data() + 268, &length, 4);
    ASSERT_TRUE(target->loadState(older));
    EXPECT_EQ(target->value(13), 0.0);
    EXPECT_EQ(target->value(alignment::kDelay), 2.0);
}

// The factory presets in a CLAP host's preset browser: one provider, the presets built into the
// module, each found by its key and loaded as its state, the host told.
TEST(ClapPresets, TheDiscoveryFactoryListsEveryFactoryPresetUnderBothIds) {
    for (const char* id : {CLAP_PRESET_DISCOVERY_FACTORY_ID, CLAP_PRESET_DISCOVERY_FACTORY_ID_COMPAT}) {
        SCOPED_TRACE(id);
        std::vector<claphost::DiscoveredPreset> found;
        std::string error;
        ASSERT_TRUE(clapModule().discoverPresets(id, found, error)) << error;
        ASSERT_EQ(found.size(), vintrel::kFactoryPresets.size());
        for (std::size_t i = 0; i < found.size(); ++i) {
            const vintrel::FactoryPreset& preset = vintrel::kFactoryPresets[i];
            SCOPED_TRACE(preset.name);
            EXPECT_EQ(found[i].locationKind, CLAP_PRESET_DISCOVERY_LOCATION_PLUGIN);
            EXPECT_FALSE(found[i].hasLocation);  // a location of kind plugin has no path
            EXPECT_EQ(found[i].name, preset.name);
            EXPECT_EQ(found[i].key, preset.key);
            EXPECT_EQ(found[i].description, preset.situation);
            EXPECT_EQ(found[i].pluginIds, std::vector<std::string>{std::string("clap:") + kId});
            EXPECT_EQ(found[i].flags, CLAP_PRESET_DISCOVERY_IS_FACTORY_CONTENT);
        }
    }
    // Keys are names, not places in the table: each is its own.
    for (std::size_t i = 0; i < vintrel::kFactoryPresets.size(); ++i)
        for (std::size_t j = i + 1; j < vintrel::kFactoryPresets.size(); ++j)
            EXPECT_STRNE(vintrel::kFactoryPresets[i].key, vintrel::kFactoryPresets[j].key);
}

TEST(ClapPresets, EachLoadsItsExactStateAndTheHostHearsOfIt) {
    auto p = activePlugin();
    p->flush({{0, 3, 77.7}, {0, 11, -1.5}, {0, 12, 1.0}});
    int rescans = p->rescans();
    for (const vintrel::FactoryPreset& preset : vintrel::kFactoryPresets) {
        SCOPED_TRACE(preset.name);
        ASSERT_TRUE(p->loadPreset(CLAP_PRESET_DISCOVERY_LOCATION_PLUGIN, nullptr, preset.key));
        ASSERT_FALSE(p->presetsLoaded.empty());
        EXPECT_EQ(p->presetsLoaded.back(), preset.key);
        EXPECT_GT(p->rescans(), rescans);
        rescans = p->rescans();
        std::vector<std::uint8_t> state;
        ASSERT_TRUE(p->saveState(state));
        EXPECT_EQ(settingsIn(state), settingsIn(vintrel::EmbeddedDecoder::stateOf(preset)));
    }
    EXPECT_TRUE(p->presetErrors.empty());
    EXPECT_EQ(p->wrongThreadCalls(), 0);
    // The latency of the earlier negative delay is gone: the host is asked for a restart.
    EXPECT_GE(p->restartRequests.load(), 1);
}

TEST(ClapPresets, AnUnknownKeyOrLocationIsRefusedInWordsAndChangesNothing) {
    auto p = activePlugin();
    p->flush({{0, 3, 77.7}, {0, vintrel::kBypass, 1.0}});
    std::vector<std::uint8_t> before;
    ASSERT_TRUE(p->saveState(before));
    struct Refused {
        std::uint32_t kind;
        const char* location;
        const char* key;
    };
    for (const Refused& r : {Refused{CLAP_PRESET_DISCOVERY_LOCATION_PLUGIN, nullptr, "no-such-preset"},
                             Refused{CLAP_PRESET_DISCOVERY_LOCATION_PLUGIN, nullptr, "Wide"},  // a name, not its key
                             Refused{CLAP_PRESET_DISCOVERY_LOCATION_FILE, "/tmp/wide.clap-preset", "wide"},
                             Refused{CLAP_PRESET_DISCOVERY_LOCATION_PLUGIN, "somewhere", "wide"},
                             Refused{7, nullptr, "wide"}, Refused{CLAP_PRESET_DISCOVERY_LOCATION_PLUGIN, nullptr, nullptr}}) {
        SCOPED_TRACE(r.key ? r.key : "(null)");
        const std::size_t errors = p->presetErrors.size();
        EXPECT_FALSE(p->loadPreset(r.kind, r.location, r.key));
        ASSERT_EQ(p->presetErrors.size(), errors + 1);
        EXPECT_GT(p->presetErrors.back().size(), std::string(r.key ? r.key : "").size() + 10) << p->presetErrors.back();
        std::vector<std::uint8_t> after;
        ASSERT_TRUE(p->saveState(after));
        EXPECT_EQ(after, before);
    }
    EXPECT_TRUE(p->presetsLoaded.empty());
    // A preset keeps the host's bypass.
    ASSERT_TRUE(p->loadPreset(CLAP_PRESET_DISCOVERY_LOCATION_PLUGIN, nullptr, "wide"));
    EXPECT_EQ(p->value(vintrel::kBypass), 1.0);
    EXPECT_EQ(p->value(3), 40.0);
}

}  // namespace

namespace {

// Silence as CLAP hosts read it: outputs that are all zero marked constant, the plug-in asleep
// once nothing it keeps can still sound, and its tail played out first when the DI is delayed.
TEST(ClapSilence, SilentInputsSleepAtOnceWithNoAlignmentAndTheOutputsAreMarkedConstant) {
    auto p = activePlugin();
    Channels3<float> io(256);
    EXPECT_EQ(p->process(io.inputs, io.outputs, 256), CLAP_PROCESS_SLEEP);
    EXPECT_EQ(p->outputConstant, 7u);
    // A host's constant input: one sample read; zero sleeps, anything else does not.
    p->inputConstant = 7;
    EXPECT_EQ(p->process(io.inputs, io.outputs, 256), CLAP_PROCESS_SLEEP);
    for (auto& s : io.in[0]) s = 0.25f;
    EXPECT_EQ(p->process(io.inputs, io.outputs, 256), CLAP_PROCESS_CONTINUE);
    EXPECT_EQ(p->outputConstant & 3u, 0u);  // the pair carries the mid
    p->inputConstant = 0;
    // One sample of sound anywhere keeps it awake; routed to output 3 alone, the DI marks only
    // the outputs that stay zero.
    for (auto& s : io.in[0]) s = 0.0f;
    io.in[2][100] = 0.5f;
    p->flush({{0, 5, 0.0}, {0, 7, 1.0}});  // DI level 0 dB, routed to output 3
    EXPECT_EQ(p->process(io.inputs, io.outputs, 256), CLAP_PROCESS_CONTINUE);
    EXPECT_EQ(p->outputConstant, 3u);
    // -0 is silence, and stays -0 where the decode keeps it.
    io.in[2][100] = -0.0f;
    EXPECT_EQ(p->process(io.inputs, io.outputs, 256), CLAP_PROCESS_SLEEP);
}

template <class Sample>
void tailPlaysOutBeforeSleeping() {
    auto p = activePlugin();
    auto same = activePlugin();  // the same blocks, asked for no status: the bits must agree
    const std::vector<claphost::ParamChange> delayed = {{0, 5, 0.0}, {0, 7, 1.0}, {0, 11, 2.5}};
    p->flush(delayed);
    same->flush(delayed);
    const std::int64_t tail = static_cast<std::int64_t>(p->extension<clap_plugin_tail_t>(CLAP_EXT_TAIL)->get(&p->plugin()));
    EXPECT_EQ(tail, 120 + 64 + 240);  // 2.5 ms at 48 kHz, the kernel, a crossfade
    Channels3<Sample> loud(64), quiet(64), other(64);
    fillTake(loud, 7);
    fillTake(other, 7);
    EXPECT_EQ(p->process(loud.inputs, loud.outputs, 64), CLAP_PROCESS_CONTINUE);
    same->process(other.inputs, other.outputs, 64);
    std::int64_t silent = 0;
    double heardInTail = 0;
    clap_process_status status = CLAP_PROCESS_TAIL;
    for (int block = 0; block < 20 && status == CLAP_PROCESS_TAIL; ++block) {
        status = p->process(quiet.inputs, quiet.outputs, 64);
        Channels3<Sample> again(64);
        same->process(again.inputs, again.outputs, 64);
        for (int k = 0; k < 3; ++k) EXPECT_TRUE(sameBits(quiet.out[k], again.out[k])) << "block " << block;
        for (const Sample s : quiet.out[2]) heardInTail += std::fabs(static_cast<double>(s));
        silent += 64;
    }
    EXPECT_GT(heardInTail, 0.0);  // the delayed DI sounds after the inputs fell silent
    EXPECT_EQ(status, CLAP_PROCESS_SLEEP);
    EXPECT_GT(silent, tail);
    EXPECT_LE(silent, tail + 64);
    // Asleep, nothing is left to hear.
    p->process(quiet.inputs, quiet.outputs, 64);
    for (int k = 0; k < 3; ++k)
        for (const Sample s : quiet.out[k]) ASSERT_EQ(s, Sample(0));
}

TEST(ClapSilence, ADelayedDiPlaysItsTailOutBeforeSleepingInBothPrecisions) {
    tailPlaysOutBeforeSleeping<float>();
    tailPlaysOutBeforeSleeping<double>();
}

}  // namespace

namespace {

template <class Sample>
void clapLetsNoSubnormalOut() {
    auto p = activePlugin();
    p->flush({{0, 2, -150.0}, {0, 7, 1.0}});  // output trim at its bottom, the DI on output 3 at -150 dB
    for (const Sample scale : {std::numeric_limits<Sample>::min() / 4, std::numeric_limits<Sample>::min() * 9}) {
        Channels3<Sample> io(512);
        for (int k = 0; k < 3; ++k)
            for (std::size_t j = 0; j < 512; ++j) io.in[k][j] = scale * static_cast<Sample>(std::sin(0.07 * static_cast<double>(j) * (k + 1)));
        p->process(io.inputs, io.outputs, 512);
        for (int k = 0; k < 3; ++k)
            for (const Sample s : io.out[k]) ASSERT_FALSE(s != 0 && std::fabs(s) < std::numeric_limits<Sample>::min()) << "output " << k + 1;
    }
}

TEST(ClapProcessing, NoSubnormalNumberLeavesInEitherPrecision) {
    clapLetsNoSubnormalOut<float>();
    clapLetsNoSubnormalOut<double>();
}

}  // namespace

// The DI's tone match, which only a state (or the editor) gives the plug-in: its curve and
// "DI match". The bytes after the alignment and the bypass in the formats' block.
namespace tone {

constexpr clap_id kMatch = 14;

align::ToneCurve bumpyCurve() {
    align::ToneCurve curve;
    for (int k = 0; k < align::kMatchPoints; ++k) {
        const double octaves = std::log2(align::matchFrequency(k) / 110.0);
        curve.db[static_cast<std::size_t>(k)] = 8.0 * std::exp(-octaves * octaves) - 0.12 * k;
        curve.held[static_cast<std::size_t>(k)] = k > 50;
    }
    return curve;
}

std::vector<std::uint8_t> withMatch(std::vector<std::uint8_t> state, std::uint32_t given, double percent,
                                    const std::vector<std::uint8_t>& curve) {
    std::size_t at = kPresetSettingsBytes;
    std::memcpy(state.data() + at, &given, 4);  // little-endian on every target we build
    std::memcpy(state.data() + at + 4, &percent, 8);
    std::copy(curve.begin(), curve.end(), state.begin() + static_cast<std::ptrdiff_t>(at + 12));
    return state;
}

std::vector<std::uint8_t> savedState(claphost::Plugin& p) {
    std::vector<std::uint8_t> state;
    EXPECT_TRUE(p.saveState(state));
    return state;
}

// A plug-in decoding with the DI on output 3 at 0 dB and in the pair, the curve and amount loaded.
std::unique_ptr<claphost::Plugin> matching(double percent, double routing = 0.0) {
    const align::ToneCurve curve = bumpyCurve();
    auto p = activePlugin();
    p->flush({{0, 3, 30.0}, {0, alignment::kDiLevel, 0.0}, {0, 6, 40.0}, {0, alignment::kDiRouting, routing}});
    EXPECT_TRUE(p->loadState(withMatch(savedState(*p), 1, percent, vintrel::EmbeddedDecoder::curveBytes(curve))));
    return p;
}

template <class Sample>
alignment::Channels<Sample> decode(claphost::Plugin& p, alignment::Channels<Sample> in,
                                   const std::vector<claphost::ParamChange>& changes = {}) {
    alignment::Channels<Sample> out;
    for (auto& c : out) c.assign(in[0].size(), Sample(0));
    const Sample* i[] = {in[0].data(), in[1].data(), in[2].data()};
    Sample* o[] = {out[0].data(), out[1].data(), out[2].data()};
    host::runOnAnotherThread([&] { p.process(const_cast<Sample**>(i), o, static_cast<std::uint32_t>(in[0].size()), changes); });
    return out;
}

}  // namespace tone

// The DI in the pair and on output 3 is the DI through the sections fitted to the curve, at the
// amount set: the same bits as a plug-in with no match given that DI, in both precisions. At
// 0 % a learned curve changes no bit.
template <class Sample>
void matchedDiIsTheDiThroughTheSections() {
    const alignment::Take take;
    const auto in = take.channels<Sample>(4000);
    for (double percent : {100.0, 35.0}) {
        const double routing = percent == 100.0 ? 0.0 : 1.0;  // the DI in the pair, then on output 3
        auto p = tone::matching(percent, routing);
        EXPECT_EQ(p->value(tone::kMatch), percent);
        auto filtered = in;
        align::ToneFilter filter;
        filter.set(align::sectionsOf(align::fitSectionGains(tone::bumpyCurve(), 48000.0), percent / 100.0, 48000.0));
        filter.process(filtered[2].data(), filtered[2].size());
        auto plain = tone::matching(0.0, routing);
        const auto got = tone::decode(*p, in), want = tone::decode(*plain, filtered);
        for (int k = 0; k < 3; ++k) EXPECT_TRUE(sameBits(got[k], want[k])) << percent << " output " << k + 1;
        EXPECT_FALSE(sameBits(got[routing == 0.0 ? 0 : 2], tone::decode(*tone::matching(0.0, routing), in)[routing == 0.0 ? 0 : 2]));
    }
    auto none = activePlugin(), off = tone::matching(0.0);
    none->flush({{0, 3, 30.0}, {0, alignment::kDiLevel, 0.0}, {0, 6, 40.0}});
    const auto a = tone::decode(*none, in), b = tone::decode(*off, in);
    for (int k = 0; k < 3; ++k) EXPECT_TRUE(sameBits(a[k], b[k])) << "at 0 %, output " << k + 1;
}

TEST(ClapToneMatch, TheDiInThePairAndOnOutput3IsTheMatchedDi) {
    matchedDiIsTheDiThroughTheSections<float>();
    matchedDiIsTheDiThroughTheSections<double>();
}

// "DI match" moved while a take plays: no step, and once the crossfade and the sections'
// start have passed, the output of a plug-in that matched from the start.
TEST(ClapToneMatch, AChangeOfTheAmountCrossfadesWithoutAStep) {
    const alignment::Take take;
    const auto in = take.channels<double>(24000);
    auto moving = tone::matching(0.0), still = tone::matching(80.0), never = tone::matching(0.0);
    const auto got = tone::decode(*moving, in, {{1000, tone::kMatch, 80.0}});
    const auto matched = tone::decode(*still, in), plain = tone::decode(*never, in);
    for (std::size_t j = 0; j < 1000; ++j) ASSERT_EQ(got[0][j], plain[0][j]) << j;
    double worstStep = 0, signalStep = 0;
    for (std::size_t j = 1000; j < 1000 + 240; ++j) {
        worstStep = std::max(worstStep, std::abs(got[0][j] - got[0][j - 1]));
        signalStep = std::max({signalStep, std::abs(matched[0][j] - matched[0][j - 1]), std::abs(plain[0][j] - plain[0][j - 1])});
    }
    EXPECT_LE(worstStep, 1.5 * signalStep);
    // The first frames of the fade stay near the unmatched output (at once, the new sections
    // would be wholly there).
    double early = 0, apart = 0;
    for (std::size_t j = 1000; j < 1010; ++j)
        early = std::max(early, std::abs(got[0][j] - plain[0][j])), apart = std::max(apart, std::abs(matched[0][j] - plain[0][j]));
    EXPECT_LT(early, 0.1 * apart);
    double late = 0;
    for (std::size_t j = 16000; j < 24000; ++j) late = std::max(late, std::abs(got[0][j] - matched[0][j]));
    EXPECT_LT(late, 1e-5);
}

// A state holds the curve and the amount, and gives them back to the bit; a state from before
// the match loads as none; far values are held at the ends; a factory preset leaves the match.
TEST(ClapToneMatch, StatesHoldItOlderStatesHaveNoneAndPresetsLeaveIt) {
    auto p = tone::matching(62.5);
    const auto saved = tone::savedState(*p);
    auto q = activePlugin();
    ASSERT_TRUE(q->loadState(saved));
    EXPECT_EQ(tone::savedState(*q), saved);
    EXPECT_EQ(q->value(tone::kMatch), 62.5);
    const std::vector<std::uint8_t> curve = vintrel::EmbeddedDecoder::curveBytes(tone::bumpyCurve());
    EXPECT_TRUE(std::equal(curve.begin(), curve.end(), saved.begin() + static_cast<std::ptrdiff_t>(kPresetSettingsBytes + 12)));

    // Version 2: the block ends after the bypass.
    std::vector<std::uint8_t> older = settingsIn(saved);
    const std::uint32_t version = 2, length = 16;
    std::memcpy(older.data() + 264, &version, 4);
    std::memcpy(older.data() + 268, &length, 4);
    ASSERT_TRUE(q->loadState(older));
    EXPECT_EQ(q->value(tone::kMatch), 0.0);
    const auto none = tone::savedState(*q), fresh = tone::savedState(*activePlugin());
    ASSERT_EQ(none.size(), fresh.size());
    EXPECT_TRUE(std::equal(none.begin() + static_cast<std::ptrdiff_t>(kPresetSettingsBytes), none.end(),
                           fresh.begin() + static_cast<std::ptrdiff_t>(kPresetSettingsBytes)));

    const struct {
        double stored, amount, db;
    } extremes[] = {{1e9, 100.0, 18.0}, {-3.0, 0.0, -18.0}, {std::nan(""), 0.0, 0.0}, {42.0, 42.0, 7.25}};
    for (const auto& c : extremes) {
        std::vector<std::uint8_t> bytes = curve;
        const double db = c.db == 18.0 ? 1e300 : c.db == -18.0 ? -INFINITY : c.db == 0.0 ? std::nan("") : c.db;
        std::memcpy(bytes.data() + 8 * 20, &db, 8);
        ASSERT_TRUE(q->loadState(tone::withMatch(saved, 1, c.stored, bytes)));
        EXPECT_EQ(q->value(tone::kMatch), c.amount) << c.stored;
        const auto again = tone::savedState(*q);
        double held;
        std::memcpy(&held, again.data() + kPresetSettingsBytes + 12 + 8 * 20, 8);
        EXPECT_EQ(held, c.db) << c.stored;
    }

    ASSERT_TRUE(q->loadState(saved));
    for (const vintrel::FactoryPreset& preset : vintrel::kFactoryPresets) {
        ASSERT_TRUE(q->loadPreset(CLAP_PRESET_DISCOVERY_LOCATION_PLUGIN, nullptr, preset.key));
        const auto after = tone::savedState(*q);
        EXPECT_EQ(settingsIn(after), settingsIn(vintrel::EmbeddedDecoder::stateOf(preset)));
        EXPECT_TRUE(std::equal(after.begin() + static_cast<std::ptrdiff_t>(kPresetSettingsBytes), after.end(),
                               saved.begin() + static_cast<std::ptrdiff_t>(kPresetSettingsBytes)))
            << preset.name;
    }
}
