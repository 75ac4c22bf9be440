// Writes the factory presets as VST 3 preset files, at build time: one file per row of the
// presets' table, in VENDOR/PLUGIN/ below the folder given, the names the factory and its class
// give, as hosts look for them. Each file's component state is exactly what the plug-in saves
// after that preset is chosen.
//   vst3_make_presets FOLDER
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>

#include "entry/embedded_decoder.h"
#include "entry/factory_presets.h"
#include "vst3/vst3_identity.h"
#include "vst3/vst3_preset_file.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: vst3_make_presets FOLDER\n");
        return 2;
    }
    try {
        const vintrel::DecoderIdentity& identity = vintrel::EmbeddedDecoder::identity();
        const fs::path folder =
            fs::path(argv[1]) / vst3preset::folderName(identity.vendor) / vst3preset::folderName(identity.name);
        fs::create_directories(folder);
        for (const vintrel::FactoryPreset& preset : vintrel::kFactoryPresets) {
            vst3preset::PresetFile file;
            file.classId = vst3::uidText(vst3::kClassId.bytes);
            file.component = vintrel::EmbeddedDecoder::stateOf(preset);  // the controller keeps nothing of its own
            file.metaInfo = vst3preset::metaInfoXml(preset.name, identity.name, vst3::kSubCategories);
            if (file.component.empty()) throw std::runtime_error("no state for the preset");
            const auto bytes = vst3preset::encode(file);
            const fs::path path = folder / (vst3preset::folderName(preset.name) + ".vstpreset");
            std::ofstream out(path, std::ios::binary);
            out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
            if (!out) throw std::runtime_error("cannot write " + path.string());
        }
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vst3_make_presets: %s\n", e.what());
        return 1;
    }
}
