#include "tools/vstrender/session.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "entry/embedded_decoder.h"
#include "entry/factory_presets.h"
#include "tools/vstrender/errors.h"
#include "tools/vstrender/fxp.h"
#include "tools/vstrender/params.h"
#include "vst3/vst3_identity.h"
#include "vst3/vst3_preset_file.h"

namespace vstrender {

namespace fs = std::filesystem;

LoadedPlugin loadPlugin(const std::string& path) {
    LoadedPlugin p;
    std::string error;
    p.module = vsthost::Module::load(path, error);
    if (!p.module) refuse(error);
    p.instance = std::make_unique<vsthost::Plugin>();
    p.instance->recordCalls = false;
    if (!p.instance->instantiate(p.module->entry())) refuse(path + " gave no plug-in instance");
    p.instance->open();
    return p;
}

std::unique_ptr<vsthost::Plugin> anotherInstance(const LoadedPlugin& p) {
    auto instance = std::make_unique<vsthost::Plugin>();
    instance->recordCalls = false;
    if (!instance->instantiate(p.module->entry())) fail("the plug-in gave no second instance");
    instance->open();
    return instance;
}

namespace {

constexpr std::size_t kDecoderChunk = 260;  // the decoder's own chunk, first in the formats' states

// A VST 3 preset file of the guitar decoder: its component state holds the decoder's chunk,
// then the DI's alignment.
PresetAlignment loadVst3PresetFile(vsthost::Plugin& plugin, const std::string& path,
                                   const std::vector<std::uint8_t>& bytes) {
    vst3preset::PresetFile preset;
    std::string error;
    if (!vst3preset::decode(bytes.data(), bytes.size(), preset, error))
        refuse(path + " is not a VST 3 preset file this renderer reads: " + error);
    const std::string ours = vst3::uidText(vst3::kClassId.bytes);
    if (!vst3preset::sameClassId(preset.classId, ours) || plugin.effectName() != vintrel::EmbeddedDecoder::identity().name)
        refuse(path + " was saved for another plug-in (class " + preset.classId + "); it loads only into the guitar decoder, class " + ours);
    std::vector<double> values;
    if (preset.component.size() < kDecoderChunk ||
        !vintrel::EmbeddedDecoder::valuesInState(preset.component.data(), preset.component.size(), values))
        refuse(path + " holds no state of the guitar decoder");
    plugin.setChunk(std::vector<std::uint8_t>(preset.component.begin(), preset.component.begin() + kDecoderChunk), true);
    return {values[vintrel::kDiDelay], values[vintrel::kDiPolarity] != 0};
}

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

PresetAlignment loadPreset(vsthost::Plugin& plugin, const std::string& path) {
    std::vector<std::uint8_t> bytes;
    ProgramFile program;
    std::string error;
    std::error_code noFile;
    // A factory preset of the guitar decoder by its name, where no file has that name.
    if (const vintrel::FactoryPreset* preset = vintrel::factoryPreset(path); preset != nullptr && !fs::exists(path, noFile)) {
        if (plugin.effectName() != vintrel::EmbeddedDecoder::identity().name)
            refuse("\"" + path + "\" is a factory preset of the guitar decoder, not of this plug-in");
        const std::vector<std::uint8_t> state = vintrel::EmbeddedDecoder::stateOf(*preset);
        plugin.setChunk(std::vector<std::uint8_t>(state.begin(), state.begin() + kDecoderChunk), true);
        plugin.setProgramName(preset->name);
        return {};
    }
    if (!readFile(path, bytes, error)) {
        if (path.find('/') == std::string::npos && path.find(".fxp") == std::string::npos)
            refuse(error + "; nor is it a factory preset (vstrender --list-presets lists them)");
        refuse(error);
    }
    if (endsWith(path, ".vstpreset") || (bytes.size() >= 4 && std::equal(bytes.begin(), bytes.begin() + 4, "VST3")))
        return loadVst3PresetFile(plugin, path, bytes);
    if (!decodeProgramFile(bytes, program, error)) refuse(path + " is not a program file this renderer reads: " + error);
    if (program.pluginId != plugin.effect()->uniqueID) {
        auto id = [](VstInt32 v) {
            std::string text;
            for (int shift = 24; shift >= 0; shift -= 8) {
                const char c = static_cast<char>((v >> shift) & 0xFF);
                text += std::isprint(static_cast<unsigned char>(c)) ? c : '?';
            }
            return "'" + text + "' (" + std::to_string(v) + ")";
        };
        refuse(path + " was saved by another plug-in, id " + id(program.pluginId) + "; this one is " +
               id(plugin.effect()->uniqueID) + ". Load it with --plugin and that plug-in's module");
    }
    plugin.setChunk(program.chunk, true);
    if (!program.programName.empty()) plugin.setProgramName(program.programName);
    return {};
}

void applyParameters(vsthost::Plugin& plugin, const std::vector<std::string>& settings) {
    std::string error, note;
    for (const std::string& setting : settings) {
        const std::size_t equals = setting.find('=');
        if (equals == std::string::npos) refuse("--param " + setting + ": write NAME=VALUE");
        VstInt32 index = 0;
        note.clear();
        if (!findParameter(plugin, setting.substr(0, equals), index, error) ||
            !applyParameterValue(plugin, index, setting.substr(equals + 1), error, note))
            refuse(error);
        if (!note.empty()) warn(note);
    }
}

std::unique_ptr<vsthost::Plugin> plainDecodeOf(const LoadedPlugin& p) {
    VstInt32 abIndex = 0;
    std::string error, note;
    if (!findParameter(*p.instance, "A/B MS", abIndex, error)) return nullptr;
    auto plain = anotherInstance(p);
    plain->setChunk(p.instance->getChunk(), false);
    if (!applyParameterValue(*plain, abIndex, "unprocessed", error, note)) return nullptr;
    return plain;
}

void savePreset(vsthost::Plugin& plugin, const std::string& path) {
    ProgramFile program;
    program.pluginId = plugin.effect()->uniqueID;
    program.pluginVersion = plugin.effect()->version;
    program.numPrograms = 1;
    program.programName = plugin.programName();
    program.chunk = plugin.getChunk(true);
    if (program.chunk.empty()) fail("the plug-in has no state chunk to save");
    std::string error;
    if (!writeFileAtomically(path, encodeProgramFile(program), error)) fail(error);
}

}  // namespace vstrender
