#include "tools/vstrender/fxp.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace vstrender {

namespace {

constexpr std::size_t kHeaderSize = 60;  // everything before the chunk
constexpr std::size_t kNameSize = 28;

void putBig32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

std::uint32_t getBig32(const std::vector<std::uint8_t>& in, std::size_t at) {
    return (std::uint32_t{in[at]} << 24) | (std::uint32_t{in[at + 1]} << 16) | (std::uint32_t{in[at + 2]} << 8) |
           std::uint32_t{in[at + 3]};
}

std::uint32_t tag(const char (&text)[5]) {
    return (std::uint32_t(std::uint8_t(text[0])) << 24) | (std::uint32_t(std::uint8_t(text[1])) << 16) |
           (std::uint32_t(std::uint8_t(text[2])) << 8) | std::uint32_t(std::uint8_t(text[3]));
}

}  // namespace

std::vector<std::uint8_t> encodeProgramFile(const ProgramFile& program) {
    std::vector<std::uint8_t> out;
    out.reserve(kHeaderSize + program.chunk.size());
    putBig32(out, tag("CcnK"));
    putBig32(out, static_cast<std::uint32_t>(kHeaderSize - 8 + program.chunk.size()));
    putBig32(out, tag("FPCh"));
    putBig32(out, 1);
    putBig32(out, static_cast<std::uint32_t>(program.pluginId));
    putBig32(out, static_cast<std::uint32_t>(program.pluginVersion));
    putBig32(out, static_cast<std::uint32_t>(program.numPrograms));
    for (std::size_t i = 0; i < kNameSize; ++i)
        out.push_back(i + 1 < kNameSize && i < program.programName.size()
                          ? static_cast<std::uint8_t>(program.programName[i])
                          : 0);
    putBig32(out, static_cast<std::uint32_t>(program.chunk.size()));
    out.insert(out.end(), program.chunk.begin(), program.chunk.end());
    return out;
}

bool decodeProgramFile(const std::vector<std::uint8_t>& bytes, ProgramFile& program, std::string& error) {
    if (bytes.size() < kHeaderSize || getBig32(bytes, 0) != tag("CcnK")) {
        error = "not a VST program file (no 'CcnK' header)";
        return false;
    }
    if (getBig32(bytes, 8) != tag("FPCh")) {
        error = getBig32(bytes, 8) == tag("FxCk")
                    ? "the program file stores single parameters, not a chunk; this plug-in saves chunks"
                    : "not a program file with a chunk ('FPCh')";
        return false;
    }
    const std::size_t chunkSize = getBig32(bytes, 56);
    if (bytes.size() - kHeaderSize < chunkSize || getBig32(bytes, 4) != kHeaderSize - 8 + chunkSize) {
        error = "the program file is truncated or its sizes disagree";
        return false;
    }
    program.pluginId = static_cast<std::int32_t>(getBig32(bytes, 16));
    program.pluginVersion = static_cast<std::int32_t>(getBig32(bytes, 20));
    program.numPrograms = static_cast<std::int32_t>(getBig32(bytes, 24));
    const auto* name = reinterpret_cast<const char*>(&bytes[28]);
    program.programName.assign(name, strnlen(name, kNameSize));
    program.chunk.assign(bytes.begin() + kHeaderSize,
                         bytes.begin() + static_cast<std::ptrdiff_t>(kHeaderSize + chunkSize));
    return true;
}

bool readFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

bool writeFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes, std::string& error) {
    const std::string temporary = path + ".partial";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!out.flush()) {
            error = "cannot write " + path + ": " + std::strerror(errno);
            std::remove(temporary.c_str());
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace vstrender
