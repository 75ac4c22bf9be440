// Writes the LV2 bundle's manifest.ttl, GuitarDecoder.ttl and presets.ttl from the effect's own
// parameter and factory preset tables, so the description and the plug-in cannot drift apart.
//   make_ttl BUNDLE-DIR BINARY-NAME MINOR MICRO
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "entry/embedded_decoder.h"
#include "entry/factory_presets.h"
#include "entry/plugin_identity.h"
#include "lv2/lv2_ports.h"

namespace {

using vintrel::EmbeddedDecoder;
namespace ports = vintrel::lv2;

std::string number(double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%.6f", v);
    return text;
}

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string controlPort(const decoder::Parameter& row, std::uint32_t index) {
    std::ostringstream out;
    out << "    a lv2:InputPort, lv2:ControlPort ;\n"
        << "    lv2:index " << index << " ;\n"
        << "    lv2:symbol " << quoted(row.symbol) << " ;\n"
        << "    lv2:name " << quoted(row.name) << " ;\n";
    if (row.isSwitch()) {
        out << "    lv2:default " << static_cast<int>(row.defaultValue) << " ;\n"
            << "    lv2:minimum " << static_cast<int>(row.min) << " ;\n"
            << "    lv2:maximum " << static_cast<int>(row.max) << " ;\n"
            << "    lv2:portProperty lv2:integer, lv2:enumeration ;\n";
        for (std::int32_t i = 0; i < row.labelCount(); ++i)
            out << "    lv2:scalePoint [ rdfs:label " << quoted(row.labels[static_cast<std::size_t>(i)]) << " ; rdf:value "
                << static_cast<int>(row.min) + static_cast<int>(i) << " ] ;\n";
    } else {
        out << "    lv2:default " << number(row.defaultValue) << " ;\n"
            << "    lv2:minimum " << number(row.min) << " ;\n"
            << "    lv2:maximum " << number(row.max) << " ;\n"
            << "    pprops:rangeSteps " << row.stepCount() + 1 << " ;\n";
        if (std::string(row.unit) == "dB") out << "    units:unit units:db ;\n";
        if (std::string(row.unit) == "ms") out << "    units:unit units:ms ;\n";
        if (std::string(row.unit) == "%") out << "    units:unit units:pc ;\n";
    }
    return out.str();
}

// The plug-in itself: what it is, who made it under which licence, its version and editor.
std::string pluginProperties(const std::string& minor, const std::string& micro) {
    const auto& id = EmbeddedDecoder::identity();
    std::ostringstream out;
    out << "<" << ports::kUri << ">\n"
        << "    a lv2:Plugin, lv2:SpatialPlugin, doap:Project ;\n"
        << "    doap:name " << quoted(id.name) << " ;\n"
        << "    doap:license <" << vintrel::kLicenceUri << "> ;\n"
        << "    doap:homepage <" << vintrel::kHomepage << "> ;\n"
        << "    doap:maintainer [\n"
        << "        a foaf:Person ;\n"
        << "        foaf:name " << quoted(id.vendor) << " ;\n"
        << "        foaf:mbox <mailto:" << vintrel::kSupportEmail << "> ;\n"
        << "        foaf:homepage <" << vintrel::kHomepage << "> ;\n"
        << "    ] ;\n"
        << "    lv2:minorVersion " << minor << " ;\n"
        << "    lv2:microVersion " << micro << " ;\n"
        << "    rdfs:comment \"Decodes a three-channel acoustic guitar take (mid microphone, side "
           "microphone, DI pickup) into a stereo pair, with the DI alone on a third output when routed "
           "there.\" ;\n"
        << "    lv2:optionalFeature lv2:hardRTCapable, urid:map ;\n"
        << "    lv2:extensionData state:interface ;\n"
        << "    ui:ui <" << ports::kUiUri << "> ;\n";
    return out.str();
}

// A port's lines one level deeper inside its brackets.
std::string indentedPort(const std::string& port) {
    std::string indented;
    std::istringstream lines(port);
    for (std::string line; std::getline(lines, line);) indented += "    " + line + "\n";
    return "    lv2:port [\n" + indented + "    ]";
}

// The ports the host reads rather than sets or that it designates: the alignment's latency,
// and the host's bypass as LV2 has it (1 processes, 0 passes the inputs through).
std::string designatedPorts() {
    std::ostringstream out;
    out << "    lv2:port [\n"
        << "        a lv2:OutputPort, lv2:ControlPort ;\n"
        << "        lv2:index " << ports::kLatencyPort << " ;\n"
        << "        lv2:symbol " << quoted(ports::kLatencySymbol) << " ;\n"
        << "        lv2:name \"Latency\" ;\n"
        << "        lv2:designation lv2:latency ;\n"
        << "        lv2:portProperty lv2:reportsLatency, lv2:integer, pprops:notOnGUI ;\n"
        << "        units:unit units:frame ;\n"
        << "    ] ;\n"
        << "    lv2:port [\n"
        << "        a lv2:InputPort, lv2:ControlPort ;\n"
        << "        lv2:index " << ports::kEnabledPort << " ;\n"
        << "        lv2:symbol " << quoted(ports::kEnabledSymbol) << " ;\n"
        << "        lv2:name \"Enabled\" ;\n"
        << "        lv2:designation lv2:enabled ;\n"
        << "        lv2:portProperty lv2:toggled ;\n"
        << "        lv2:default 1 ;\n"
        << "        lv2:minimum 0 ;\n"
        << "        lv2:maximum 1 ;\n"
        << "    ] ;\n";
    return out.str();
}

std::string description(const std::string& minor, const std::string& micro) {
    std::ostringstream out;
    out << "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
        << "@prefix foaf: <http://xmlns.com/foaf/0.1/> .\n"
        << "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
        << "@prefix pprops: <http://lv2plug.in/ns/ext/port-props#> .\n"
        << "@prefix rdf: <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
        << "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
        << "@prefix state: <http://lv2plug.in/ns/ext/state#> .\n"
        << "@prefix ui: <http://lv2plug.in/ns/extensions/ui#> .\n"
        << "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n"
        << "@prefix urid: <http://lv2plug.in/ns/ext/urid#> .\n\n"
        << pluginProperties(minor, micro);
    std::uint32_t index = 0;
    for (const auto& port : ports::kAudioPorts) {
        out << "    lv2:port [\n"
            << "        a lv2:AudioPort, " << (index < ports::kAudioOutputs ? "lv2:InputPort" : "lv2:OutputPort")
            << " ;\n        lv2:index " << index << " ;\n        lv2:symbol " << quoted(port.symbol)
            << " ;\n        lv2:name " << quoted(port.name) << " ;\n    ] ;\n";
        ++index;
    }
    const auto& rows = EmbeddedDecoder::parameters();
    for (std::size_t i = 0; i < ports::kParameterCount; ++i, ++index) {
        out << indentedPort(controlPort(rows[i], index)) << " ;\n";
    }
    return out.str() + designatedPorts() + indentedPort(controlPort(rows[vintrel::kDiMatch], ports::kMatchPort)) + " .\n";
}

// A factory preset's URI: the plug-in's, and the name in lower case with dashes.
std::string presetUri(const vintrel::FactoryPreset& preset) {
    std::string slug;
    for (const char* c = preset.name; *c != '\0'; ++c) {
        const auto u = static_cast<unsigned char>(*c);
        if (std::isalnum(u))
            slug += static_cast<char>(std::tolower(u));
        else if (!slug.empty() && slug.back() != '-')
            slug += '-';
    }
    while (!slug.empty() && slug.back() == '-') slug.pop_back();
    return std::string(ports::kUri) + "#preset-" + slug;
}

// The factory presets as LV2 describes them: each a value for every control input.
std::string presets() {
    std::ostringstream out;
    out << "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
        << "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
        << "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n";
    const auto& rows = EmbeddedDecoder::parameters();
    for (const vintrel::FactoryPreset& preset : vintrel::kFactoryPresets) {
        out << "\n<" << presetUri(preset) << ">\n"
            << "    a pset:Preset ;\n"
            << "    lv2:appliesTo <" << ports::kUri << "> ;\n"
            << "    rdfs:label " << quoted(preset.name) << " ;\n"
            << "    rdfs:comment " << quoted(preset.situation) << " ;\n";
        for (std::size_t i = 0; i < ports::kParameterCount; ++i) {
            // The decoder's values, then the DI's alignment at none.
            const double value = i < preset.values.size() ? preset.values[i] : rows[i].defaultValue;
            out << (i == 0 ? "    lv2:port [\n" : "    ] , [\n") << "        lv2:symbol " << quoted(rows[i].symbol)
                << " ;\n        pset:value " << number(value) << " ;\n";
        }
        out << "    ] .\n";
    }
    return out.str();
}

std::string manifest(const std::string& binary, const std::string& suffix) {
    std::string presetEntries;
    for (const vintrel::FactoryPreset& preset : vintrel::kFactoryPresets)
        presetEntries += "\n<" + presetUri(preset) + ">\n    a pset:Preset ;\n    lv2:appliesTo <" + ports::kUri +
                         "> ;\n    rdfs:seeAlso <presets.ttl> .\n";
    return std::string("@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n") +
           "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n" +
           "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n" +
           "@prefix ui: <http://lv2plug.in/ns/extensions/ui#> .\n\n" + "<" + ports::kUri +
           ">\n    a lv2:Plugin ;\n    lv2:binary <" + binary + "> ;\n    rdfs:seeAlso <GuitarDecoder.ttl> .\n\n" +
           "<" + ports::kUiUri + ">\n    a ui:X11UI ;\n    lv2:binary <" + ports::kUiBinary + suffix + "> ;\n" +
           "    lv2:requiredFeature ui:idleInterface, ui:parent ;\n" +
           "    lv2:optionalFeature ui:touch, <http://lv2plug.in/ns/ext/instance-access>,\n" +
           "        <http://lv2plug.in/ns/ext/options#options>, <http://lv2plug.in/ns/ext/urid#map> ;\n" +
           "    lv2:extensionData ui:idleInterface .\n" + presetEntries;
}

bool write(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary);
    file << text;
    return static_cast<bool>(file);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::cerr << "usage: make_ttl BUNDLE-DIR BINARY-NAME MINOR MICRO\n";
        return 2;
    }
    const std::string bundle = argv[1];
    const std::string binary = argv[2], suffix = binary.substr(binary.find('.'));  // the plug-in's, e.g. ".so"
    if (!write(bundle + "/manifest.ttl", manifest(binary, suffix)) ||
        !write(bundle + "/GuitarDecoder.ttl", description(argv[3], argv[4])) || !write(bundle + "/presets.ttl", presets())) {
        std::cerr << "make_ttl: cannot write into " << bundle << "\n";
        return 1;
    }
    return 0;
}
