// VST 3 preset files (.vstpreset): a 48-byte header ('VST3', version 1, the processor's class id
// as 32 hex characters, the chunk list's offset), the chunks back to back, then the list
// ('List', a count, and an id, offset and size for each chunk). Little-endian, no padding.
// The component's state is the 'Comp' chunk, the controller's own the optional 'Cont', and
// 'Info' holds the meta information as XML.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vst3preset {

struct PresetFile {
    std::string classId;  // the 32 hex characters of the processor's class id
    std::vector<std::uint8_t> component;
    bool hasController = false;
    std::vector<std::uint8_t> controller;
    std::string metaInfo;  // empty: no 'Info' chunk
};

std::vector<std::uint8_t> encode(const PresetFile& preset);
// False, with the reason in words, for bytes that are not a preset file this reader takes: too
// short, another header, a chunk list or chunk outside the file, no 'Comp' chunk.
bool decode(const std::uint8_t* data, std::size_t size, PresetFile& preset, std::string& error);
// Whether two class id texts name the same class (hex in either case).
bool sameClassId(const std::string& a, const std::string& b);

// The meta information a host's browser shows: the preset's name, the plug-in's name and its
// category, as XML attributes under the keys preset files use.
std::string metaInfoXml(const std::string& presetName, const std::string& pluginName, const std::string& category);
// A preset or plug-in name as a file or folder name: the characters \ * ? / : < > | become _.
std::string folderName(const std::string& name);

}  // namespace vst3preset
