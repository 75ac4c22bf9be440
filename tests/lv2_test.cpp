// The LV2 plug-in as LV2 hosts meet it: its description read by lilv against the effect's own
// parameter table, lv2apply rendering the same bits as the VST 2 module, and the habits of
// hosts (in-place buffers, ports connected after activation, odd control values).
#include <gtest/gtest.h>
#include <lilv/lilv.h>
#include <lv2/core/lv2.h>
#include <lv2/atom/atom.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "effect/guitar_decoder.h"
#include "align/tone_match.h"
#include "entry/embedded_decoder.h"
#include "entry/factory_presets.h"
#include "entry/plugin_parameters.h"
#include "host/lv2_host.h"
#include "alignment_cases.h"
#include "far_values.h"
#include "plugin_fixture.h"
#include "urid_map.h"

namespace {

namespace fs = std::filesystem;
constexpr char kUri[] = "urn:brelvander:guitar-decoder";
const std::string kBundles = VINTREL_LV2_BUNDLES;
const std::string kBinary = kBundles + "/GuitarDecoder.lv2/GuitarDecoder.so";

// The effect's own table, which the description must follow.
const std::vector<CVintrelSlider>& table() {
    static const TVintrelEffect fx;
    return fx.SliderInfos;
}

struct Lilv {
    LilvWorld* world = lilv_world_new();
    const LilvPlugin* plugin = nullptr;
    Lilv() {
        LilvNode* path = lilv_new_file_uri(world, nullptr, (kBundles + "/GuitarDecoder.lv2/").c_str());
        lilv_world_load_bundle(world, path);
        lilv_node_free(path);
        LilvNode* uri = lilv_new_uri(world, kUri);
        plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri);
        lilv_node_free(uri);
    }
    ~Lilv() { lilv_world_free(world); }
    LilvNode* node(const char* uri) { return lilv_new_uri(world, uri); }
};

std::string text(const LilvNode* node) { return node ? lilv_node_as_string(node) : ""; }

TEST(Lv2Description, FollowsTheEffectsParameterTable) {
    Lilv lv2;
    ASSERT_NE(lv2.plugin, nullptr);
    EXPECT_TRUE(lilv_plugin_verify(lv2.plugin));
    // The decoder's eleven controls, the DI's alignment (two), its latency, the host's bypass
    // and the DI's tone match come after the audio.
    ASSERT_EQ(lilv_plugin_get_num_ports(lv2.plugin), 6u + table().size() + 5);
    LilvNode* audio = lv2.node(LILV_URI_AUDIO_PORT);
    LilvNode* input = lv2.node(LILV_URI_INPUT_PORT);
    LilvNode* enumeration = lv2.node("http://lv2plug.in/ns/lv2core#enumeration");
    LilvNode* unit = lv2.node("http://lv2plug.in/ns/extensions/units#unit");
    for (std::uint32_t p = 0; p < 6; ++p) {
        const LilvPort* port = lilv_plugin_get_port_by_index(lv2.plugin, p);
        EXPECT_TRUE(lilv_port_is_a(lv2.plugin, port, audio));
        EXPECT_EQ(lilv_port_is_a(lv2.plugin, port, input), p < 3);
    }
    const char* decibels[] = {"mid channel trim", "side channel trim", "output trim", "DI level",
                              "main output trim"};
    for (std::size_t i = 0; i < table().size(); ++i) {
        const CVintrelSlider& row = table()[i];
        SCOPED_TRACE(row.Name);
        const LilvPort* port = lilv_plugin_get_port_by_index(lv2.plugin, static_cast<std::uint32_t>(6 + i));
        EXPECT_TRUE(lilv_port_is_a(lv2.plugin, port, input));
        LilvNode* name = lilv_port_get_name(lv2.plugin, port);
        EXPECT_EQ(text(name), row.Name);
        lilv_node_free(name);
        LilvNode *def, *min, *max;
        lilv_port_get_range(lv2.plugin, port, &def, &min, &max);
        EXPECT_EQ(lilv_node_as_float(def), static_cast<float>(row.Default));
        EXPECT_EQ(lilv_node_as_float(min), static_cast<float>(row.Min));
        EXPECT_EQ(lilv_node_as_float(max), static_cast<float>(row.Max));
        lilv_node_free(def), lilv_node_free(min), lilv_node_free(max);

        EXPECT_EQ(lilv_port_has_property(lv2.plugin, port, enumeration), !row.Labels.empty());
        std::map<int, std::string> points;
        if (LilvScalePoints* scale = lilv_port_get_scale_points(lv2.plugin, port)) {
            LILV_FOREACH (scale_points, it, scale) {
                const LilvScalePoint* point = lilv_scale_points_get(scale, it);
                points[lilv_node_as_int(lilv_scale_point_get_value(point))] = text(lilv_scale_point_get_label(point));
            }
            lilv_scale_points_free(scale);
        }
        ASSERT_EQ(points.size(), row.Labels.size());
        for (std::size_t k = 0; k < row.Labels.size(); ++k) EXPECT_EQ(points[static_cast<int>(k)], row.Labels[k]);

        LilvNodes* units = lilv_port_get_value(lv2.plugin, port, unit);
        const bool isDecibels = std::find(std::begin(decibels), std::end(decibels), row.Name) != std::end(decibels);
        EXPECT_EQ(units && lilv_nodes_size(units) == 1 &&
                      text(lilv_nodes_get_first(units)) == "http://lv2plug.in/ns/extensions/units#db",
                  isDecibels);
        lilv_nodes_free(units);
    }
    // The DI's alignment by its symbols, then the latency port hosts find by its designation.
    const char* alignment[] = {"di_delay", "di_polarity"};
    for (std::uint32_t k = 0; k < 2; ++k) {
        LilvNode* symbol = lilv_new_string(lv2.world, alignment[k]);
        const LilvPort* port = lilv_plugin_get_port_by_symbol(lv2.plugin, symbol);
        lilv_node_free(symbol);
        ASSERT_NE(port, nullptr) << alignment[k];
        EXPECT_EQ(lilv_port_get_index(lv2.plugin, port), 6 + table().size() + k);
        EXPECT_EQ(lilv_port_has_property(lv2.plugin, port, enumeration), k == 1);
    }
    EXPECT_TRUE(lilv_plugin_has_latency(lv2.plugin));
    EXPECT_EQ(lilv_plugin_get_latency_port_index(lv2.plugin), 6 + table().size() + 2);
    // The tone match last, in percent, off by default; its curve in the state.
    {
        LilvNode* symbol = lilv_new_string(lv2.world, "di_match");
        const LilvPort* port = lilv_plugin_get_port_by_symbol(lv2.plugin, symbol);
        lilv_node_free(symbol);
        ASSERT_NE(port, nullptr);
        EXPECT_EQ(lilv_port_get_index(lv2.plugin, port), 6 + table().size() + 4);
        LilvNode *def, *min, *max;
        lilv_port_get_range(lv2.plugin, port, &def, &min, &max);
        EXPECT_EQ(lilv_node_as_float(def), 0.0f);
        EXPECT_EQ(lilv_node_as_float(max), 100.0f);
        lilv_node_free(def), lilv_node_free(min), lilv_node_free(max);
        LilvNode* state = lv2.node("http://lv2plug.in/ns/ext/state#interface");
        EXPECT_TRUE(lilv_plugin_has_extension_data(lv2.plugin, state));
        lilv_node_free(state);
    }
    // What the lint asks of a description: a licence, a maintainer with an address, a homepage.
    auto valueOf = [&](const LilvNode* subject, const char* predicate) {
        LilvNode* p = lv2.node(predicate);
        LilvNode* v = lilv_world_get(lv2.world, subject, p, nullptr);
        const std::string out = text(v);
        lilv_node_free(v), lilv_node_free(p);
        return out;
    };
    const LilvNode* self = lilv_plugin_get_uri(lv2.plugin);
    EXPECT_EQ(valueOf(self, "http://usefulinc.com/ns/doap#license"), "https://spdx.org/licenses/MIT");
    EXPECT_EQ(valueOf(self, "http://usefulinc.com/ns/doap#homepage"), "https://brelvander.net/guitar-decoder");
    LilvNode* maintainer = lilv_plugin_get_author_email(lv2.plugin);
    EXPECT_EQ(text(maintainer), "mailto:support@brelvander.net");
    lilv_node_free(maintainer);
    // The editor as current hosts find it: its binary by lv2:binary, nothing deprecated asked for.
    LilvUIs* uis = lilv_plugin_get_uis(lv2.plugin);
    ASSERT_EQ(lilv_uis_size(uis), 1u);
    const LilvUI* ui = lilv_uis_get(uis, lilv_uis_begin(uis));
    EXPECT_NE(text(lilv_ui_get_binary_uri(ui)).find("GuitarDecoderEditor"), std::string::npos);
    LilvNode* resize = lv2.node("http://lv2plug.in/ns/extensions/ui#resize");
    LilvNode* optional = lv2.node(LV2_CORE__optionalFeature);
    LilvNode* uiBinary = lv2.node("http://lv2plug.in/ns/extensions/ui#binary");
    EXPECT_FALSE(lilv_world_ask(lv2.world, lilv_ui_get_uri(ui), optional, resize)) << "ui:resize asked for";
    EXPECT_FALSE(lilv_world_ask(lv2.world, lilv_ui_get_uri(ui), uiBinary, nullptr)) << "ui:binary used";
    lilv_node_free(resize), lilv_node_free(optional), lilv_node_free(uiBinary);
    lilv_uis_free(uis);
    // Hosts refuse plug-ins that need what they cannot give, and hide in-place-broken ones.
    LilvNodes* required = lilv_plugin_get_required_features(lv2.plugin);
    EXPECT_EQ(lilv_nodes_size(required), 0u);
    lilv_nodes_free(required);
    LilvNode* broken = lv2.node("http://lv2plug.in/ns/lv2core#inPlaceBroken");
    EXPECT_FALSE(lilv_plugin_has_feature(lv2.plugin, broken));
    for (LilvNode* n : {audio, input, enumeration, unit, broken}) lilv_node_free(n);
}

// A three-channel take as 32-bit float samples, interleaved.
std::vector<float> take(std::size_t frames) {
    std::vector<float> samples(frames * 3);
    std::uint32_t noise = 99;
    for (float& s : samples) {
        noise = noise * 1664525u + 1013904223u;
        s = static_cast<float>((static_cast<double>(noise >> 8) / 8388608.0 - 1.0) * 0.7);
    }
    return samples;
}

bool writeFloatWav(const std::string& path, const std::vector<float>& interleaved, int channels) {
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) return false;
    const auto frames = static_cast<sf_count_t>(interleaved.size() / static_cast<std::size_t>(channels));
    const bool ok = sf_writef_float(file, interleaved.data(), frames) == frames;
    sf_close(file);
    return ok;
}

std::vector<float> readFloats(const std::string& path, int& channels) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) return {};
    std::vector<float> samples(static_cast<std::size_t>(info.frames * info.channels));
    sf_readf_float(file, samples.data(), info.frames);
    sf_close(file);
    channels = info.channels;
    return samples;
}

// The same settings through the VST 2 module: each value set as its normalised float.
std::vector<float> renderVst2(const std::vector<float>& interleaved, const std::map<int, double>& settings) {
    Decoder fx;
    fx.start(48000.0f, 1024);
    for (const auto& [index, value] : settings) {
        const CVintrelSlider& row = table()[static_cast<std::size_t>(index)];
        fx.setParameter(index, static_cast<float>((value - row.Min) / (row.Max - row.Min)));
    }
    const std::size_t frames = interleaved.size() / 3;
    Channels3<float> io(frames);
    for (std::size_t j = 0; j < frames; ++j)
        for (int k = 0; k < 3; ++k) io.in[k][j] = interleaved[j * 3 + static_cast<std::size_t>(k)];
    fx.process(io.inputs, io.outputs, static_cast<VstInt32>(frames));
    std::vector<float> out(frames * 3);
    for (std::size_t j = 0; j < frames; ++j)
        for (int k = 0; k < 3; ++k) out[j * 3 + static_cast<std::size_t>(k)] = io.out[k][j];
    return out;
}

std::string symbolOf(int index) {
    const char* symbols[] = {"mid_channel_trim", "side_channel_trim", "output_trim",     "stereo_width",
                             "l_r_swap",         "di_level",          "di_pan_to_l_r",   "di_routing",
                             "a_b_ms",           "active_channels",   "main_output_trim"};
    return symbols[index];
}

TEST(Lv2Apply, RendersTheSameBitsAsTheVst2Module) {
#if defined(VINTREL_SANITIZED_MODULES)
    GTEST_SKIP() << "lv2apply cannot load a sanitized module; the plain build runs this";
#endif
    const fs::path dir = fs::temp_directory_path() / ("lv2apply-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::vector<float> in = take(9000);
    ASSERT_TRUE(writeFloatWav((dir / "take.wav").string(), in, 3));
    const std::vector<std::map<int, double>> sessions = {
        {},
        {{3, 40}, {5, -12}, {6, -40}},
        {{0, -3.3}, {1, 2.7}, {2, -60}, {4, 1}, {5, 6}, {7, 1}, {10, 4.5}},
        {{8, 1}, {5, -20.1}, {7, 1}},
        {{9, 1}, {3, -120}, {5, 0}, {6, 120}},
        {{9, 2}, {5, 12}, {2, -150}, {10, -10}},
    };
    for (const auto& settings : sessions) {
        std::string command = "LV2_PATH='" + kBundles + "' lv2apply -i '" + (dir / "take.wav").string() + "' -o '" +
                              (dir / "out.wav").string() + "'";
        for (const auto& [index, value] : settings) command += " -c " + symbolOf(index) + " " + std::to_string(value);
        command += std::string(" ") + kUri;
        SCOPED_TRACE(command);
        fs::remove(dir / "out.wav");
        ASSERT_EQ(std::system(command.c_str()), 0);
        int channels = 0;
        const std::vector<float> lv2 = readFloats((dir / "out.wav").string(), channels);
        ASSERT_EQ(channels, 3);
        const std::vector<float> vst2 = renderVst2(in, settings);
        ASSERT_EQ(lv2.size(), vst2.size());
        EXPECT_EQ(std::memcmp(lv2.data(), vst2.data(), lv2.size() * sizeof(float)), 0);
        bool anySound = false;
        for (float v : lv2) anySound |= v != 0.0f;
        EXPECT_TRUE(anySound);
    }
    fs::remove_all(dir);
}

// One instance with its ports, as a host keeps them.
struct Lv2Decoder {
    std::unique_ptr<lv2host::Instance> instance;
    std::vector<float> audio[6];
    float controls[13];
    float latency = -1;
    explicit Lv2Decoder(std::size_t frames) {
        std::string error;
        instance = lv2host::Instance::load(kBinary, kUri, 48000.0, error);
        if (!instance) ADD_FAILURE() << error;
        for (auto& buffer : audio) buffer.assign(frames, 0.0f);
        for (std::size_t i = 0; i < 11; ++i) controls[i] = static_cast<float>(table()[i].Default);
        controls[11] = controls[12] = 0.0f;  // the DI's alignment: none
    }
    void connectAll(bool inPlace) {
        for (std::uint32_t p = 0; p < 6; ++p) instance->connect(p, audio[inPlace ? p % 3 : p].data());
        for (std::uint32_t i = 0; i < 13; ++i) instance->connect(6 + i, &controls[i]);
        instance->connect(19, &latency);
    }
    void fill(const std::vector<float>& interleaved) {
        for (std::size_t j = 0; j < audio[0].size(); ++j)
            for (int k = 0; k < 3; ++k) audio[k][j] = interleaved[j * 3 + static_cast<std::size_t>(k)];
    }
};

TEST(Lv2Habits, InPlaceLateConnectionAndReactivationGiveTheSameBits) {
    const std::size_t frames = 777;
    const std::vector<float> in = take(frames);
    Lv2Decoder separate(frames), inPlace(frames);
    ASSERT_TRUE(separate.instance && inPlace.instance);
    separate.connectAll(false);
    separate.instance->activate();
    inPlace.instance->activate();  // ports connected only after activation
    inPlace.connectAll(true);
    for (Lv2Decoder* d : {&separate, &inPlace}) {
        d->controls[3] = 55.5f;
        d->controls[5] = -3.0f;
        d->controls[7] = 1.0f;
        d->fill(in);
        d->instance->run(static_cast<std::uint32_t>(frames));
    }
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(std::memcmp(separate.audio[3 + k].data(), inPlace.audio[k].data(), frames * sizeof(float)), 0);

    // Deactivating and activating again changes nothing that the ports do not say.
    const std::vector<float> first = separate.audio[3];
    separate.instance->deactivate();
    separate.instance->activate();
    separate.fill(in);
    separate.instance->run(static_cast<std::uint32_t>(frames));
    EXPECT_EQ(separate.audio[3], first);
}

// The DI's alignment on its two ports: whole samples move the DI exactly, inverted it is
// negated, and a negative delay delays the microphones and says so on the latency port.
TEST(Lv2Alignment, WholeSamplesMoveTheDiAndTheLatencyPortReportsANegativeDelay) {
    const std::size_t frames = 2000;
    const std::vector<float> in = take(frames);
    for (const auto& [ms, shift, invert] : {std::tuple{1.0f, 48, false}, {0.5f, 24, true}, {-0.25f, -12, false}}) {
        SCOPED_TRACE(ms);
        Lv2Decoder aligned(frames), byHand(frames);
        for (Lv2Decoder* d : {&aligned, &byHand}) {
            d->connectAll(false);
            d->instance->activate();
            d->controls[5] = 0.0f;  // the DI alone on output 3, at 0 dB
            d->controls[7] = 1.0f;
        }
        aligned.controls[11] = ms;
        aligned.controls[12] = invert ? 1.0f : 0.0f;
        aligned.fill(in);
        aligned.instance->run(static_cast<std::uint32_t>(frames));
        const int latency = std::max(0, -shift);
        EXPECT_EQ(aligned.latency, static_cast<float>(latency));
        byHand.fill(in);
        for (int k = 0; k < 3; ++k) {
            const int moved = k == 2 ? shift + latency : latency;
            for (std::size_t j = frames; j-- > 0;)
                byHand.audio[k][j] = j >= static_cast<std::size_t>(moved) ? byHand.audio[k][j - static_cast<std::size_t>(moved)] : 0.0f;
            if (k == 2 && invert)
                for (float& x : byHand.audio[k]) x = 0.0f - x;
        }
        byHand.instance->run(static_cast<std::uint32_t>(frames));
        EXPECT_EQ(byHand.latency, 0.0f);
        for (int k = 3; k < 6; ++k)
            EXPECT_EQ(std::memcmp(aligned.audio[k].data(), byHand.audio[k].data(), frames * sizeof(float)), 0) << "output " << k - 2;
    }
}

// A fraction through the port: within the kernel's accuracy of the DI heard that much later;
// far values on the delay's port act as the range's ends.
TEST(Lv2Alignment, FractionsAreWithinTheKernelsAccuracyAndFarValuesActAsTheEnds) {
    const std::size_t frames = 4000;
    const alignment::Take take;
    const auto channels = take.channels<float>(frames);
    for (const auto& [ms, expectedLatency] : {std::pair{1.5125f, 0.0f}, {-0.7001f, 34.0f + 31.0f}, {1e9f, 0.0f},
                                              {-INFINITY, 480.0f}}) {
        SCOPED_TRACE(ms);
        Lv2Decoder d(frames);
        d.connectAll(false);
        d.instance->activate();
        d.controls[5] = 0.0f;
        d.controls[7] = 1.0f;
        d.controls[11] = ms;
        for (int k = 0; k < 3; ++k) d.audio[k] = channels[static_cast<std::size_t>(k)];
        d.instance->run(static_cast<std::uint32_t>(frames));
        EXPECT_EQ(d.latency, expectedLatency);
        const double held = std::clamp(static_cast<double>(ms), -10.0, 10.0);
        const double delay = vintrel::onDelayGrid(held) * 48;
        EXPECT_LT(alignment::worstDiError(take, d.audio[5], delay, static_cast<std::size_t>(d.latency)),
                  std::pow(10.0, -90.0 / 20.0));
    }
}

// The host's bypass on the "enabled" port: at 0 the inputs are the outputs, bit for bit.
TEST(Lv2Bypass, NotEnabledTheInputsPassBitForBit) {
    const std::size_t frames = 700;
    const std::vector<float> in = take(frames);
    Lv2Decoder d(frames);
    d.connectAll(false);
    float enabled = 0.0f;
    d.instance->connect(20, &enabled);
    d.instance->activate();
    d.controls[3] = 40.0f;
    d.fill(in);
    d.instance->run(static_cast<std::uint32_t>(frames));
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(std::memcmp(d.audio[3 + k].data(), d.audio[k].data(), frames * sizeof(float)), 0) << "channel " << k;
}

// Not enabled with a negative DI delay, the inputs pass delayed by the latency the port
// reports, bit for bit: the track stays in time after the host's compensation.
TEST(Lv2Bypass, WithALatencyReportedTheInputsPassDelayedByIt) {
    const std::size_t frames = 2048;
    const alignment::Take take;
    const auto in = take.channels<float>(frames);
    Lv2Decoder d(frames);
    d.connectAll(false);
    float enabled = 0.0f;
    d.instance->connect(20, &enabled);
    d.instance->activate();
    d.controls[alignment::kDelay] = -2.3f;
    for (int k = 0; k < 3; ++k) d.audio[k].assign(in[k].begin(), in[k].end());
    d.instance->run(static_cast<std::uint32_t>(frames));
    EXPECT_EQ(d.latency, 142.0f);
    const auto want = alignment::movedByHand(in, 142, 142, false);
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(std::memcmp(d.audio[3 + k].data(), want[k].data(), frames * sizeof(float)), 0) << "channel " << k;
}

// The factory presets as LV2 hosts find them: every one listed by lilv with its name, and applied
// as a host applies one (a state from the world, its port values emitted) giving the table's
// values, the DI's alignment at none.
TEST(Lv2Presets, EveryFactoryPresetIsListedAndAppliesItsValues) {
    Lilv lv2;
    ASSERT_NE(lv2.plugin, nullptr);
    LilvNode* presetClass = lv2.node("http://lv2plug.in/ns/ext/presets#Preset");
    LilvNode* label = lv2.node("http://www.w3.org/2000/01/rdf-schema#label");
    LilvNodes* related = lilv_plugin_get_related(lv2.plugin, presetClass);
    ASSERT_NE(related, nullptr);
    EXPECT_EQ(lilv_nodes_size(related), vintrel::kFactoryPresets.size());
    UridMap uris;  // which the state asks for
    LV2_URID_Map& map = uris.map;
    std::map<std::string, std::map<std::string, float>> applied;  // by label, values by symbol
    LILV_FOREACH (nodes, it, related) {
        const LilvNode* preset = lilv_nodes_get(related, it);
        lilv_world_load_resource(lv2.world, preset);
        LilvNodes* labels = lilv_world_find_nodes(lv2.world, preset, label, nullptr);
        ASSERT_NE(labels, nullptr);
        const std::string name = text(lilv_nodes_get_first(labels));
        lilv_nodes_free(labels);
        LilvState* state = lilv_state_new_from_world(lv2.world, &map, preset);
        ASSERT_NE(state, nullptr) << name;
        lilv_state_emit_port_values(
            state,
            [](const char* symbol, void* values, const void* value, uint32_t size, uint32_t) {
                if (size == sizeof(float)) (*static_cast<std::map<std::string, float>*>(values))[symbol] = *static_cast<const float*>(value);
            },
            &applied[name]);
        lilv_state_free(state);
    }
    lilv_nodes_free(related);
    lilv_node_free(presetClass), lilv_node_free(label);
    for (const vintrel::FactoryPreset& preset : vintrel::kFactoryPresets) {
        SCOPED_TRACE(preset.name);
        ASSERT_EQ(applied.count(preset.name), 1u);
        const auto& values = applied[preset.name];
        EXPECT_EQ(values.size(), 13u);
        for (std::size_t i = 0; i < preset.values.size(); ++i)
            EXPECT_EQ(values.at(decoder::kParameters[i].symbol), static_cast<float>(preset.values[i])) << i;
        EXPECT_EQ(values.at("di_delay"), 0.0f);
        EXPECT_EQ(values.at("di_polarity"), 0.0f);
    }
}

TEST(Lv2Habits, OddControlValuesNeverCrashOrMakeFiniteInputNonFinite) {
    const std::size_t frames = 256;
    const std::vector<float> in = take(frames);
    Lv2Decoder d(frames);
    ASSERT_TRUE(d.instance);
    d.connectAll(false);
    d.instance->activate();
    const float odd[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                         -std::numeric_limits<float>::infinity(), 1e30f, -1e30f, 3.4e38f, -0.0f, 1e-40f};
    std::mt19937 rng(5);
    for (int round = 0; round < 200; ++round) {
        for (float& c : d.controls) c = odd[std::uniform_int_distribution<int>(0, 7)(rng)];
        d.fill(in);
        d.instance->run(static_cast<std::uint32_t>(frames));
        for (int k = 3; k < 6; ++k)
            for (float v : d.audio[k]) ASSERT_TRUE(std::isfinite(v)) << "round " << round;
    }
}

// Far outside the range a control acts as the nearest end of it, every control, and the audio
// stays within the loudest gain the ranges allow.
TEST(Lv2Habits, FarControlValuesActAsTheRangeEndsAndNeverBlast) {
    const std::size_t frames = 256;
    const std::vector<float> in = take(frames);
    for (std::size_t p = 0; p < decoder::kParameters.size(); ++p)
        for (float extreme : kFarValues) {
            SCOPED_TRACE(testing::Message() << decoder::kParameters[p].name << " at " << extreme);
            Lv2Decoder clamped(frames), atEnd(frames);
            for (Lv2Decoder* x : {&clamped, &atEnd}) {
                x->connectAll(false);
                x->instance->activate();
                x->fill(in);
            }
            clamped.controls[p] = extreme;
            atEnd.controls[p] = static_cast<float>(heldAt(p, extreme));
            clamped.instance->run(frames);
            atEnd.instance->run(frames);
            for (int k = 3; k < 6; ++k) EXPECT_EQ(clamped.audio[k], atEnd.audio[k]) << "output " << k - 2;
            const float* inputs[3] = {clamped.audio[0].data(), clamped.audio[1].data(), clamped.audio[2].data()};
            const float* outputs[3] = {clamped.audio[3].data(), clamped.audio[4].data(), clamped.audio[5].data()};
            EXPECT_TRUE(withinTheLoudestGain(inputs, outputs, frames));
        }
}

}  // namespace

namespace {

bool anySubnormal(const std::vector<float>& v) {
    return std::any_of(v.begin(), v.end(), [](float x) { return x != 0 && std::fabs(x) < std::numeric_limits<float>::min(); });
}

// No subnormal number leaves through the ports: subnormal inputs, and tiny ones through the
// smallest gains.
TEST(Lv2Habits, NoSubnormalNumberLeaves) {
    const std::size_t frames = 512;
    Lv2Decoder d(frames);
    ASSERT_TRUE(d.instance);
    d.connectAll(false);
    d.instance->activate();
    d.controls[2] = -150.0f;  // output trim
    d.controls[7] = 1.0f;     // the DI on output 3, at its -150 dB default
    for (const float scale : {std::numeric_limits<float>::min() / 4, std::numeric_limits<float>::min() * 9}) {
        for (int k = 0; k < 3; ++k)
            for (std::size_t j = 0; j < frames; ++j) d.audio[k][j] = scale * static_cast<float>(std::sin(0.07 * static_cast<double>(j) * (k + 1)));
        d.instance->run(static_cast<std::uint32_t>(frames));
        for (int k = 3; k < 6; ++k) EXPECT_FALSE(anySubnormal(d.audio[k])) << "output " << k - 2 << ", inputs of " << scale;
    }
}

}  // namespace

// The DI's tone match: its curve in the plug-in's state, as lilv saves and restores it for a
// session, and a state without it restoring to none; the amount is the "di_match" port.
namespace {

struct CurveStore {
    std::uint32_t key = 0, type = 0;
    std::vector<std::uint8_t> bytes;
};

LV2_State_Status storeCurve(LV2_State_Handle handle, uint32_t key, const void* value, size_t size, uint32_t type, uint32_t) {
    auto* store = static_cast<CurveStore*>(handle);
    store->key = key, store->type = type;
    store->bytes.assign(static_cast<const std::uint8_t*>(value), static_cast<const std::uint8_t*>(value) + size);
    return LV2_STATE_SUCCESS;
}

const void* retrieveCurve(LV2_State_Handle handle, uint32_t key, size_t* size, uint32_t* type, uint32_t* flags) {
    auto* store = static_cast<CurveStore*>(handle);
    if (key != store->key || store->bytes.empty()) return nullptr;
    *size = store->bytes.size(), *type = store->type, *flags = LV2_STATE_IS_POD;
    return store->bytes.data();
}

}  // namespace

TEST(Lv2ToneMatch, TheCurveIsInTheStateAndAStateWithoutItHasNone) {
    Lilv lv2;
    ASSERT_NE(lv2.plugin, nullptr);
    UridMap uris;
    LV2_URID_Map& map = uris.map;
    const LV2_Feature* features[] = {&uris.feature, nullptr};
    LilvInstance* a = lilv_plugin_instantiate(lv2.plugin, 48000.0, features);
    LilvInstance* b = lilv_plugin_instantiate(lv2.plugin, 48000.0, features);
    ASSERT_TRUE(a && b);
    const auto* face = static_cast<const LV2_State_Interface*>(lilv_instance_get_extension_data(a, LV2_STATE__interface));
    ASSERT_NE(face, nullptr);

    align::ToneCurve curve;
    for (int k = 0; k < align::kMatchPoints; ++k) curve.db[static_cast<std::size_t>(k)] = 6.0 * std::sin(0.3 * k), curve.held[static_cast<std::size_t>(k)] = k % 7 == 0;
    CurveStore given{uris("urn:brelvander:guitar-decoder#tone_curve"), uris(LV2_ATOM__Chunk),
                     vintrel::EmbeddedDecoder::curveBytes(curve)};
    ASSERT_EQ(face->restore(lilv_instance_get_handle(a), retrieveCurve, &given, 0, features), LV2_STATE_SUCCESS);
    // Through lilv's own state, as a session keeps it, into the other instance.
    LilvState* state = lilv_state_new_from_instance(lv2.plugin, a, &map, nullptr, nullptr, nullptr, nullptr,
                                                    [](const char*, void*, uint32_t*, uint32_t*) -> const void* { return nullptr; },
                                                    nullptr, 0, features);
    ASSERT_NE(state, nullptr);
    lilv_state_restore(state, b, nullptr, nullptr, 0, features);
    lilv_state_free(state);
    CurveStore saved;
    ASSERT_EQ(face->save(lilv_instance_get_handle(b), storeCurve, &saved, 0, features), LV2_STATE_SUCCESS);
    EXPECT_EQ(saved.key, given.key);
    EXPECT_EQ(saved.type, given.type);
    EXPECT_EQ(saved.bytes, given.bytes);

    // A state without the curve: none, held throughout.
    CurveStore empty{given.key, given.type, {}};
    ASSERT_EQ(face->restore(lilv_instance_get_handle(b), retrieveCurve, &empty, 0, features), LV2_STATE_SUCCESS);
    ASSERT_EQ(face->save(lilv_instance_get_handle(b), storeCurve, &saved, 0, features), LV2_STATE_SUCCESS);
    EXPECT_EQ(saved.bytes, vintrel::EmbeddedDecoder::curveBytes({}));

    // Heard: the DI in the pair, matched at 100 % in the instance with the curve.
    std::vector<float> audio[2][6];
    float controls[2][16] = {};
    for (int i = 0; i < 2; ++i) {
        LilvInstance* instance = i == 0 ? a : b;
        for (int p = 0; p < 6; ++p) {
            audio[i][p].assign(2048, 0.0f);
            if (p < 3)
                for (std::size_t j = 0; j < 2048; ++j) audio[i][p][j] = static_cast<float>(0.3 * std::sin(0.01 * (p + 1) * static_cast<double>(j)));
            lilv_instance_connect_port(instance, static_cast<uint32_t>(p), audio[i][p].data());
        }
        for (std::size_t c = 0; c < 11; ++c) controls[i][c] = static_cast<float>(table()[c].Default);
        controls[i][5] = 0.0f;     // DI level
        controls[i][14] = 1.0f;    // enabled
        controls[i][15] = 100.0f;  // DI match
        for (uint32_t c = 0; c < 16; ++c) lilv_instance_connect_port(instance, 6 + c, &controls[i][c]);
        lilv_instance_activate(instance);
        lilv_instance_run(instance, 2048);
    }
    EXPECT_NE(audio[0][3], audio[1][3]);
    lilv_instance_free(a);
    lilv_instance_free(b);
}
