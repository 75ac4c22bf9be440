#include "vst3/vst3_preset_file.h"

#include <cctype>
#include <cstring>

namespace vst3preset {

namespace {

constexpr std::size_t kHeaderSize = 48, kListOffsetAt = 40, kClassIdAt = 8, kClassIdSize = 32, kEntrySize = 20;
constexpr std::int32_t kFormatVersion = 1;

void putInt(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}
void putId(std::vector<std::uint8_t>& out, const char* id) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(id[i]));
}

std::uint64_t getInt(const std::uint8_t* at, int bytes) {
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = value << 8 | at[i];
    return value;
}

struct Entry {
    char id[4];
    std::uint64_t offset, size;
};

}  // namespace

std::vector<std::uint8_t> encode(const PresetFile& preset) {
    std::vector<std::uint8_t> out;
    out.reserve(kHeaderSize + preset.component.size() + preset.controller.size() + preset.metaInfo.size() + 8 + 3 * kEntrySize);
    putId(out, "VST3");
    putInt(out, kFormatVersion, 4);
    std::string id = preset.classId;
    id.resize(kClassIdSize, '0');
    out.insert(out.end(), id.begin(), id.end());
    putInt(out, 0, 8);  // the list's offset, known once the chunks are written
    std::vector<Entry> entries;
    auto chunk = [&](const char* name, const std::uint8_t* data, std::size_t size) {
        Entry e{{name[0], name[1], name[2], name[3]}, out.size(), size};
        entries.push_back(e);
        out.insert(out.end(), data, data + size);
    };
    chunk("Comp", preset.component.data(), preset.component.size());
    if (preset.hasController) chunk("Cont", preset.controller.data(), preset.controller.size());
    if (!preset.metaInfo.empty())
        chunk("Info", reinterpret_cast<const std::uint8_t*>(preset.metaInfo.data()), preset.metaInfo.size());
    const std::uint64_t listOffset = out.size();
    for (int i = 0; i < 8; ++i) out[kListOffsetAt + i] = static_cast<std::uint8_t>(listOffset >> (8 * i));
    putId(out, "List");
    putInt(out, entries.size(), 4);
    for (const Entry& e : entries) {
        putId(out, e.id);
        putInt(out, e.offset, 8);
        putInt(out, e.size, 8);
    }
    return out;
}

bool decode(const std::uint8_t* data, std::size_t size, PresetFile& preset, std::string& error) {
    if (data == nullptr || size < kHeaderSize) {
        error = "it is shorter than a preset file's header (" + std::to_string(kHeaderSize) + " bytes)";
        return false;
    }
    if (std::memcmp(data, "VST3", 4) != 0) {
        error = "it does not start as a VST 3 preset file ('VST3')";
        return false;
    }
    std::string classId(reinterpret_cast<const char*>(data + kClassIdAt), kClassIdSize);
    for (const char c : classId)
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            error = "its class id is not 32 hexadecimal digits";
            return false;
        }
    const std::uint64_t listOffset = getInt(data + kListOffsetAt, 8);
    if (listOffset < kHeaderSize || listOffset > size || size - listOffset < 8 ||
        std::memcmp(data + listOffset, "List", 4) != 0) {
        error = "its chunk list lies outside the file";
        return false;
    }
    const std::uint64_t count = getInt(data + listOffset + 4, 4);
    if (count > (size - listOffset - 8) / kEntrySize) {
        error = "its chunk list counts " + std::to_string(static_cast<std::int32_t>(count)) +
                " chunks, more than the file holds";
        return false;
    }
    PresetFile read;
    read.classId = classId;
    bool haveComponent = false, haveController = false, haveInfo = false;
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint8_t* entry = data + listOffset + 8 + i * kEntrySize;
        const std::uint64_t offset = getInt(entry + 4, 8), length = getInt(entry + 12, 8);
        if (offset > size || length > size - offset) {
            error = "its chunk '" + std::string(reinterpret_cast<const char*>(entry), 4) + "' lies outside the file";
            return false;
        }
        const std::uint8_t* from = data + offset;
        // The first chunk of an id counts, as readers find chunks by id.
        if (std::memcmp(entry, "Comp", 4) == 0 && !haveComponent) {
            read.component.assign(from, from + length);
            haveComponent = true;
        } else if (std::memcmp(entry, "Cont", 4) == 0 && !haveController) {
            read.controller.assign(from, from + length);
            read.hasController = haveController = true;
        } else if (std::memcmp(entry, "Info", 4) == 0 && !haveInfo) {
            read.metaInfo.assign(reinterpret_cast<const char*>(from), length);
            haveInfo = true;
        }
    }
    if (!haveComponent) {
        error = "it holds no component state (no 'Comp' chunk)";
        return false;
    }
    preset = std::move(read);
    return true;
}

bool sameClassId(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

namespace {
std::string xmlAttribute(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default: out += c;
        }
    }
    return out;
}
}  // namespace

std::string metaInfoXml(const std::string& presetName, const std::string& pluginName, const std::string& category) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<MetaInfo>\n";
    auto attribute = [&xml](const char* key, const std::string& value) {
        xml += std::string("\t<Attr id=\"") + key + "\" value=\"" + xmlAttribute(value) +
               "\" type=\"string\" flags=\"writeProtected\"/>\n";
    };
    attribute("PlugInName", pluginName);
    attribute("PlugInCategory", category);
    attribute("Name", presetName);
    return xml + "</MetaInfo>\n";
}

std::string folderName(const std::string& name) {
    std::string out = name;
    for (char& c : out)
        if (c != '\0' && std::strchr("\\*?/:<>|", c) != nullptr) c = '_';
    return out;
}

}  // namespace vst3preset
