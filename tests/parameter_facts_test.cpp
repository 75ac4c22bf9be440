// Every format, and the renderer, show each parameter as the effect's table describes it: the
// same name, unit, range, step, default and a switch's labels, each read the way that format's
// hosts read it (texts of values probed from the bottom up, port descriptions, a listing).
#include <gtest/gtest.h>
#include <lilv/lilv.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "effect/decoder_parameters.h"
#include "host/clap_host.h"
#include "host/vst3_host.h"
#include "plugin_fixture.h"

namespace {

// What a host shows of one parameter. A switch's range is its labels' positions, 0 up.
struct Facts {
    explicit Facts(std::string name, std::string unit = "") : name(std::move(name)), unit(std::move(unit)) {}
    std::string name, unit;
    double min = 0, max = 0, step = 0, def = 0;
    std::vector<std::string> labels;
};

std::ostream& operator<<(std::ostream& out, const Facts& f) {
    out << "\"" << f.name << "\" [" << f.unit << "] " << f.min << " .. " << f.max << " step " << f.step << " default "
        << f.def << " labels";
    for (const auto& l : f.labels) out << " \"" << l << "\"";
    return out;
}

Facts expected(const decoder::Parameter& p, bool unitAsLabel = false) {
    Facts f{p.name, unitAsLabel ? p.label : p.unit};
    for (std::int32_t k = 0; k < p.labelCount(); ++k) f.labels.push_back(p.labels[static_cast<std::size_t>(k)]);
    if (p.isSwitch()) {
        f.max = p.labelCount() - 1, f.step = 1, f.def = p.defaultValue - p.min;
        return f;
    }
    f.min = p.min, f.max = p.max, f.step = p.step, f.def = p.defaultValue;
    return f;
}

void expectSame(const Facts& shown, const Facts& wanted, const char* where) {
    SCOPED_TRACE(testing::Message() << where << " shows " << shown << "; the table says " << wanted);
    EXPECT_EQ(shown.name, wanted.name);
    EXPECT_EQ(shown.unit, wanted.unit);
    EXPECT_NEAR(shown.min, wanted.min, 1e-9);
    EXPECT_NEAR(shown.max, wanted.max, 1e-9);
    EXPECT_NEAR(shown.step, wanted.step, 1e-6);
    EXPECT_NEAR(shown.def, wanted.def, 1e-9);
    EXPECT_EQ(shown.labels, wanted.labels);
}

double number(const std::string& text) { return std::strtod(text.c_str(), nullptr); }

// Texts of a parameter's values from the bottom (x = 0) to the top (x = 1) in small steps, as a
// host's slider shows them: the range, the step (the first change), the labels in order.
template <class TextAt>
void probe(Facts& f, bool isSwitch, TextAt textAt) {
    constexpr int kSteps = 4000;
    std::string first = textAt(0.0), previous = first;
    if (isSwitch) f.labels.push_back(first);
    for (int i = 1; i <= kSteps; ++i) {
        const std::string text = textAt(static_cast<double>(i) / kSteps);
        if (text == previous) continue;
        if (isSwitch) f.labels.push_back(text);
        if (f.step == 0 && !isSwitch) f.step = number(text) - number(first);
        previous = text;
    }
    if (isSwitch) {
        f.max = static_cast<double>(f.labels.size()) - 1, f.step = 1;
        return;
    }
    f.min = number(first), f.max = number(textAt(1.0));
}

TEST(ParameterFacts, Vst2HostsSeeTheTablesRowsWithTheirHostLabels) {
    for (std::size_t i = 0; i < decoder::kParameters.size(); ++i) {
        const decoder::Parameter& p = decoder::kParameters[i];
        Decoder fx;
        const auto index = static_cast<VstInt32>(i);
        Facts f{fx.parameterName(index), fx.parameterLabel(index)};
        const std::string defaultText = fx.parameterDisplay(index);
        probe(f, p.isSwitch(), [&](double x) {
            fx.setParameter(index, static_cast<float>(x));
            return fx.parameterDisplay(index);
        });
        f.def = p.isSwitch() ? std::find(f.labels.begin(), f.labels.end(), defaultText) - f.labels.begin()
                             : number(defaultText);
        // VST 2 has no unit of its own: the label it has always told hosts, "dB" on three rows.
        expectSame(f, expected(p, true), "VST 2");
    }
}

TEST(ParameterFacts, Vst3HostsSeeTheTablesRows) {
    std::string error;
    auto module = vst3host::Module::load(VINTREL_VST3_PATH, error);
    ASSERT_TRUE(module) << error;
    auto plugin = vst3host::Plugin::create(*module, error);
    ASSERT_TRUE(plugin) << error;
    vst3::IEditController* e = plugin->controller();
    auto utf8 = [](const vst3::TChar* s) {
        std::string out;
        for (; *s; ++s) out += static_cast<char>(*s);
        return out;
    };
    for (std::size_t i = 0; i < decoder::kParameters.size(); ++i) {
        const decoder::Parameter& p = decoder::kParameters[i];
        const auto id = static_cast<vst3::ParamID>(i);
        vst3::ParameterInfo info;
        ASSERT_EQ(e->getParameterInfo(static_cast<vst3::int32>(i), info), vst3::kResultOk);
        Facts f{utf8(info.title), utf8(info.units)};
        auto textAt = [&](double x) {
            vst3::String128 text{};
            e->getParamStringByValue(id, x, text);
            return utf8(text);
        };
        probe(f, p.isSwitch(), textAt);
        EXPECT_EQ(info.stepCount, p.isSwitch() ? p.labelCount() - 1 : 0);
        const std::string defaultText = textAt(info.defaultNormalizedValue);
        f.def = p.isSwitch() ? std::find(f.labels.begin(), f.labels.end(), defaultText) - f.labels.begin()
                             : number(defaultText);
        expectSame(f, expected(p), "VST 3");
    }
}

TEST(ParameterFacts, ClapHostsSeeTheTablesRows) {
    std::string error;
    auto module = claphost::Module::load(VINTREL_CLAP_PATH, error);
    ASSERT_TRUE(module) << error;
    auto plugin = claphost::Plugin::create(*module, "net.brelvander.guitar-decoder");
    ASSERT_TRUE(plugin);
    const auto* params = plugin->extension<clap_plugin_params_t>(CLAP_EXT_PARAMS);
    ASSERT_NE(params, nullptr);
    for (std::size_t i = 0; i < decoder::kParameters.size(); ++i) {
        const decoder::Parameter& p = decoder::kParameters[i];
        clap_param_info_t info;
        ASSERT_TRUE(params->get_info(&plugin->plugin(), static_cast<std::uint32_t>(i), &info));
        // CLAP texts carry the unit after the number: "-12.00 dB".
        std::string unit;
        auto textOf = [&](double value) {
            char text[64] = {};
            params->value_to_text(&plugin->plugin(), info.id, value, text, sizeof text);
            std::string t = text;
            const std::size_t blank = t.find(' ');
            if (!p.isSwitch() && blank != std::string::npos) unit = t.substr(blank + 1), t.erase(blank);
            return t;
        };
        Facts f{info.name};
        probe(f, p.isSwitch(),
              [&](double x) { return textOf(info.min_value + x * (info.max_value - info.min_value)); });
        f.unit = unit;
        f.def = info.default_value - (p.isSwitch() ? info.min_value : 0.0);
        EXPECT_EQ(info.min_value, p.min);
        EXPECT_EQ(info.max_value, p.max);
        expectSame(f, expected(p), "CLAP");
    }
}

TEST(ParameterFacts, Lv2HostsSeeTheTablesRows) {
    LilvWorld* world = lilv_world_new();
    LilvNode* bundle = lilv_new_file_uri(world, nullptr, VINTREL_LV2_BUNDLE "/");
    lilv_world_load_bundle(world, bundle);
    LilvNode* uri = lilv_new_uri(world, "urn:brelvander:guitar-decoder");
    const LilvPlugin* plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri);
    ASSERT_NE(plugin, nullptr);
    LilvNode* unitProperty = lilv_new_uri(world, "http://lv2plug.in/ns/extensions/units#unit");
    LilvNode* steps = lilv_new_uri(world, "http://lv2plug.in/ns/ext/port-props#rangeSteps");
    for (std::size_t i = 0; i < decoder::kParameters.size(); ++i) {
        const decoder::Parameter& p = decoder::kParameters[i];
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, static_cast<std::uint32_t>(6 + i));
        LilvNode* name = lilv_port_get_name(plugin, port);
        Facts f{lilv_node_as_string(name)};
        lilv_node_free(name);
        LilvNodes* units = lilv_port_get_value(plugin, port, unitProperty);
        if (units && lilv_nodes_size(units) == 1 &&
            std::string(lilv_node_as_uri(lilv_nodes_get_first(units))) == "http://lv2plug.in/ns/extensions/units#db")
            f.unit = "dB";
        lilv_nodes_free(units);
        LilvNode *def, *min, *max;
        lilv_port_get_range(plugin, port, &def, &min, &max);
        f.min = lilv_node_as_float(min), f.max = lilv_node_as_float(max), f.def = lilv_node_as_float(def);
        lilv_node_free(def), lilv_node_free(min), lilv_node_free(max);
        if (LilvScalePoints* scale = lilv_port_get_scale_points(plugin, port)) {
            std::map<int, std::string> points;
            LILV_FOREACH (scale_points, it, scale) {
                const LilvScalePoint* point = lilv_scale_points_get(scale, it);
                points[lilv_node_as_int(lilv_scale_point_get_value(point))] =
                    lilv_node_as_string(lilv_scale_point_get_label(point));
            }
            lilv_scale_points_free(scale);
            for (const auto& [value, label] : points) f.labels.push_back(label);
            f.step = 1;
        } else if (LilvNodes* count = lilv_port_get_value(plugin, port, steps)) {
            f.step = (f.max - f.min) / (lilv_node_as_int(lilv_nodes_get_first(count)) - 1);
            lilv_nodes_free(count);
        }
        expectSame(f, expected(p), "LV2");
    }
    for (LilvNode* n : {bundle, uri, unitProperty, steps}) lilv_node_free(n);
    lilv_world_free(world);
}

// The renderer's --list-params: a line a parameter, in the heading's columns, and a line of
// values under a switch.
TEST(ParameterFacts, TheRendererListsTheTablesRows) {
    FILE* pipe = popen(VSTRENDER_PATH " --list-params", "r");
    ASSERT_NE(pipe, nullptr);
    std::vector<std::string> lines;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe)) lines.emplace_back(buffer);
    ASSERT_EQ(pclose(pipe), 0);
    ASSERT_FALSE(lines.empty());
    const std::string heading = lines[0];
    auto field = [&](const std::string& line, const char* column, const char* next) {
        const std::size_t from = heading.find(column), to = next ? heading.find(next) : line.size();
        std::string text = from < line.size() ? line.substr(from, to - from) : "";
        while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
        return text;
    };
    std::size_t at = 1;
    for (const decoder::Parameter& p : decoder::kParameters) {
        ASSERT_LT(at, lines.size());
        const std::string line = lines[at++];
        Facts f{field(line, "name", "value")};
        if (p.isSwitch()) {
            // A label may be wider than its column: the default's text starts there, in full.
            ASSERT_LT(at, lines.size());
            std::string values = lines[at++];
            values = values.substr(values.find("values: ") + 8);
            while (!values.empty() && std::isspace(static_cast<unsigned char>(values.back()))) values.pop_back();
            for (std::size_t bar; (bar = values.find(" | ")) != std::string::npos; values.erase(0, bar + 3))
                f.labels.push_back(values.substr(0, bar));
            f.labels.push_back(values);
            f.max = static_cast<double>(f.labels.size()) - 1, f.step = 1;
            const std::string defaultText = line.substr(heading.find("default"));
            for (std::size_t k = 0; k < f.labels.size(); ++k)
                if (defaultText.rfind(f.labels[k] + " ", 0) == 0) f.def = static_cast<double>(k);
        } else {
            const std::string range = field(line, "range", "step");
            f.min = number(range), f.max = number(range.substr(range.find("..") + 2));
            f.step = number(field(line, "step", "default")), f.def = number(field(line, "default", "unit"));
            f.unit = field(line, "unit", nullptr);
        }
        expectSame(f, expected(p), "vstrender --list-params");
    }
}

}  // namespace
