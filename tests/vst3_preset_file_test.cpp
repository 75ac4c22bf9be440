// VST 3 preset files: the layout against the published example byte for byte, the factory
// presets' files as they are installed, read back through our VST 3 host into the plug-in, and
// every kind of bad file refused in words with the plug-in left as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "align/tone_match.h"
#include "entry/embedded_decoder.h"
#include "entry/factory_presets.h"
#include "host/vst3_host.h"
#include "vst3/vst3_identity.h"
#include "vst3/vst3_preset_file.h"
#include "preset_state.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

fs::path presetFolder() {
    const auto& identity = vintrel::EmbeddedDecoder::identity();
    return fs::path(VINTREL_VST3_PRESETS) / identity.vendor / identity.name;
}

fs::path presetPath(const vintrel::FactoryPreset& preset) {
    return presetFolder() / (vst3preset::folderName(preset.name) + ".vstpreset");
}

// The published example: class 1A2B3C4D 5E6F7A8B 9CADBECF D0E1F203, component "comp\x01",
// controller "ct\x02" and the smallest meta information, 156 bytes.
TEST(Vst3PresetFile, WritesThePublishedExampleByteForByteAndReadsItBack) {
    vst3preset::PresetFile example;
    example.classId = "1A2B3C4D5E6F7A8B9CADBECFD0E1F203";
    example.component = {0x63, 0x6F, 0x6D, 0x70, 0x01};
    example.hasController = true;
    example.controller = {0x63, 0x74, 0x02};
    example.metaInfo = "<?xml version=\"1.0\"?><MetaInfo/>";
    const Bytes expected = {
        0x56, 0x53, 0x54, 0x33, 0x01, 0x00, 0x00, 0x00, 0x31, 0x41, 0x32, 0x42, 0x33, 0x43, 0x34, 0x44, 0x35, 0x45, 0x36, 0x46,
        0x37, 0x41, 0x38, 0x42, 0x39, 0x43, 0x41, 0x44, 0x42, 0x45, 0x43, 0x46, 0x44, 0x30, 0x45, 0x31, 0x46, 0x32, 0x30, 0x33,
        0x58, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x63, 0x6F, 0x6D, 0x70, 0x01, 0x63, 0x74, 0x02, 0x3C, 0x3F, 0x78, 0x6D,
        0x6C, 0x20, 0x76, 0x65, 0x72, 0x73, 0x69, 0x6F, 0x6E, 0x3D, 0x22, 0x31, 0x2E, 0x30, 0x22, 0x3F, 0x3E, 0x3C, 0x4D, 0x65,
        0x74, 0x61, 0x49, 0x6E, 0x66, 0x6F, 0x2F, 0x3E, 0x4C, 0x69, 0x73, 0x74, 0x03, 0x00, 0x00, 0x00, 0x43, 0x6F, 0x6D, 0x70,
        0x30, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x43, 0x6F, 0x6E, 0x74,
        0x35, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x49, 0x6E, 0x66, 0x6F,
        0x38, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    ASSERT_EQ(expected.size(), 156u);
    EXPECT_EQ(vst3preset::encode(example), expected);
    vst3preset::PresetFile read;
    std::string error;
    ASSERT_TRUE(vst3preset::decode(expected.data(), expected.size(), read, error)) << error;
    EXPECT_EQ(read.classId, example.classId);
    EXPECT_EQ(read.component, example.component);
    EXPECT_TRUE(read.hasController);
    EXPECT_EQ(read.controller, example.controller);
    EXPECT_EQ(read.metaInfo, example.metaInfo);
    // Lower-case hex names the same class, as readers accept it.
    EXPECT_TRUE(vst3preset::sameClassId("1a2b3c4d5e6f7a8b9cadbecfd0e1f203", example.classId));
    EXPECT_FALSE(vst3preset::sameClassId("1A2B3C4D5E6F7A8B9CADBECFD0E1F204", example.classId));
}

// The class id's text is its four words whatever the platform lays in memory.
TEST(Vst3PresetFile, TheClassIdTextIsItsFourWords) {
    EXPECT_EQ(vst3::uidText(vst3::kClassId.bytes), "8C3E51A24D7B4F19A6E2C3D45B9F1E07");
    EXPECT_EQ(vst3::uidText(vst3::makeUid(0x1A2B3C4D, 0x5E6F7A8B, 0x9CADBECF, 0xD0E1F203).bytes),
              "1A2B3C4D5E6F7A8B9CADBECFD0E1F203");
}

TEST(Vst3PresetFile, EveryFactoryPresetIsAFileHostsFindUnderTheVendorAndPluginNames) {
    std::size_t files = 0;
    for (const auto& entry : fs::directory_iterator(presetFolder())) files += entry.path().extension() == ".vstpreset";
    EXPECT_EQ(files, vintrel::kFactoryPresets.size());
    for (const vintrel::FactoryPreset& preset : vintrel::kFactoryPresets) {
        SCOPED_TRACE(preset.name);
        const Bytes bytes = readBytes(presetPath(preset));
        vst3preset::PresetFile file;
        std::string error;
        ASSERT_TRUE(vst3preset::decode(bytes.data(), bytes.size(), file, error)) << error;
        EXPECT_EQ(file.classId, vst3::uidText(vst3::kClassId.bytes));
        EXPECT_EQ(file.component, vintrel::EmbeddedDecoder::stateOf(preset));
        EXPECT_FALSE(file.hasController);  // the controller keeps no state of its own
        for (const std::string& attribute :
             {std::string("id=\"Name\" value=\"") + preset.name, std::string("id=\"PlugInName\" value=\"") +
                                                                      vintrel::EmbeddedDecoder::identity().name,
              std::string("id=\"PlugInCategory\" value=\"Fx|Spatial\"")}) {
            std::string escaped = attribute;
            for (std::size_t at = 0; (at = escaped.find('\'', at)) != std::string::npos; at += 6) escaped.replace(at, 1, "&apos;");
            EXPECT_NE(file.metaInfo.find(escaped), std::string::npos) << file.metaInfo;
        }
        // The header, the chunks from offset 48, and the list last.
        EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "VST3");
        EXPECT_EQ(std::string(bytes.begin() + 48, bytes.begin() + 52), std::string(file.component.begin(), file.component.begin() + 4));
        EXPECT_EQ(bytes.size(), 48 + file.component.size() + file.metaInfo.size() + 8 + 2 * 20);
    }
}

// Loaded through our VST 3 host as hosts load a preset file: the plug-in holds that preset.
TEST(Vst3PresetFile, EachLoadsIntoThePluginThroughOurHost) {
    std::string error;
    auto module = vst3host::Module::load(VINTREL_VST3_PATH, error);
    ASSERT_TRUE(module) << error;
    for (const vintrel::FactoryPreset& preset : vintrel::kFactoryPresets) {
        SCOPED_TRACE(preset.name);
        auto p = vst3host::Plugin::create(*module, error);
        ASSERT_TRUE(p) << error;
        ASSERT_TRUE(p->loadPresetFile(readBytes(presetPath(preset)), error)) << error;
        vst3host::MemoryStream state;
        ASSERT_EQ(p->component()->getState(&state), vst3::kResultOk);
        EXPECT_EQ(settingsIn(state.bytes), settingsIn(vintrel::EmbeddedDecoder::stateOf(preset)));
        const auto targets = vintrel::presetTargets(preset);
        for (std::size_t i = 0; i < targets.size(); ++i) {
            const auto id = static_cast<vst3::ParamID>(i);
            EXPECT_NEAR(p->controller()->normalizedParamToPlain(id, p->controller()->getParamNormalized(id)), targets[i], 1e-4);
        }
    }
}

// A factory preset file leaves the DI's tone match as it was: it belongs to the take.
TEST(Vst3PresetFile, LoadingOneLeavesTheToneMatch) {
    std::string error;
    auto module = vst3host::Module::load(VINTREL_VST3_PATH, error);
    ASSERT_TRUE(module) << error;
    auto p = vst3host::Plugin::create(*module, error);
    ASSERT_TRUE(p) << error;
    align::ToneCurve curve;
    curve.db.fill(-2.5);
    curve.held.fill(false);
    Bytes state = vintrel::EmbeddedDecoder::stateOf(vintrel::kFactoryPresets[0]);
    const std::uint32_t given = 1;
    const double percent = 70.0;
    const Bytes bytes = vintrel::EmbeddedDecoder::curveBytes(curve);
    std::memcpy(state.data() + kPresetSettingsBytes, &given, 4);
    std::memcpy(state.data() + kPresetSettingsBytes + 4, &percent, 8);
    std::copy(bytes.begin(), bytes.end(), state.begin() + static_cast<std::ptrdiff_t>(kPresetSettingsBytes + 12));
    vst3host::MemoryStream forComponent(state), forController(state);
    ASSERT_EQ(p->component()->setState(&forComponent), vst3::kResultOk);
    ASSERT_EQ(p->controller()->setComponentState(&forController), vst3::kResultOk);
    EXPECT_DOUBLE_EQ(p->controller()->getParamNormalized(vintrel::kDiMatch), 0.7);
    ASSERT_TRUE(p->loadPresetFile(readBytes(presetPath(vintrel::kFactoryPresets[3])), error)) << error;
    vst3host::MemoryStream after;
    ASSERT_EQ(p->component()->getState(&after), vst3::kResultOk);
    EXPECT_EQ(settingsIn(after.bytes), settingsIn(vintrel::EmbeddedDecoder::stateOf(vintrel::kFactoryPresets[3])));
    ASSERT_EQ(after.bytes.size(), state.size());
    EXPECT_TRUE(std::equal(state.begin() + static_cast<std::ptrdiff_t>(kPresetSettingsBytes), state.end(),
                           after.bytes.begin() + static_cast<std::ptrdiff_t>(kPresetSettingsBytes)));
    EXPECT_DOUBLE_EQ(p->controller()->getParamNormalized(vintrel::kDiMatch), 0.7);
}

// Bad files, each refused with its reason, the plug-in as it was.
TEST(Vst3PresetFile, BadFilesAreRefusedInWordsAndChangeNothing) {
    const Bytes good = readBytes(presetPath(vintrel::kFactoryPresets[1]));
    ASSERT_GT(good.size(), 100u);
    auto patched = [&good](std::size_t at, std::initializer_list<std::uint8_t> with) {
        Bytes b = good;
        std::copy(with.begin(), with.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
        return b;
    };
    const std::size_t list = good.size() - 8 - 2 * 20;
    Bytes noComponent = good;
    noComponent[list + 8] = 'X';  // the Comp entry renamed
    Bytes otherClass = good;
    otherClass[8] = otherClass[8] == '0' ? '1' : '0';
    struct Bad {
        const char* what;
        Bytes bytes;
        const char* words;
    };
    const std::vector<Bad> bad = {
        {"empty", {}, "shorter than a preset file's header"},
        {"truncated in the header", Bytes(good.begin(), good.begin() + 30), "shorter than a preset file's header"},
        {"truncated in the list", Bytes(good.begin(), good.end() - 7), "more than the file holds"},
        {"truncated in the chunks", Bytes(good.begin(), good.begin() + 100), "chunk list lies outside the file"},
        {"another header", patched(0, {'V', 'S', 'T', '2'}), "does not start as a VST 3 preset file"},
        {"a class id that is no hex", patched(8, {'G'}), "not 32 hexadecimal digits"},
        {"the list past the end", patched(40, {0xFF, 0xFF, 0, 0}), "chunk list lies outside the file"},
        {"the list inside the header", patched(40, {8, 0, 0, 0, 0, 0, 0, 0}), "chunk list lies outside the file"},
        {"a list offset near 2^64", patched(40, {0xF8, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), "chunk list lies outside"},
        {"a chunk past the end", patched(list + 12, {0xFF, 0xFF, 0xFF, 0}), "chunk 'Comp' lies outside the file"},
        {"a chunk size near 2^64", patched(list + 20, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), "lies outside the file"},
        {"a count that does not fit", patched(list + 4, {0xFF, 0xFF, 0xFF, 0x7F}), "more than the file holds"},
        {"a negative count", patched(list + 4, {0xFF, 0xFF, 0xFF, 0xFF}), "more than the file holds"},
        {"no Comp chunk", noComponent, "no 'Comp' chunk"},
        {"another plug-in's class", otherClass, "saved by another plug-in"},
    };
    std::string error;
    auto module = vst3host::Module::load(VINTREL_VST3_PATH, error);
    ASSERT_TRUE(module) << error;
    auto p = vst3host::Plugin::create(*module, error);
    ASSERT_TRUE(p) << error;
    vst3host::MemoryStream before;
    ASSERT_EQ(p->component()->getState(&before), vst3::kResultOk);
    for (const Bad& b : bad) {
        SCOPED_TRACE(b.what);
        error.clear();
        EXPECT_FALSE(p->loadPresetFile(b.bytes, error));
        EXPECT_NE(error.find(b.words), std::string::npos) << error;
        vst3host::MemoryStream after;
        ASSERT_EQ(p->component()->getState(&after), vst3::kResultOk);
        EXPECT_EQ(after.bytes, before.bytes);
    }
}

}  // namespace
