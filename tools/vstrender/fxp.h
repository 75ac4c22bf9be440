// Program files (.fxp) with an opaque chunk, the form VST 2 hosts save a plug-in's state in:
// big-endian 'CcnK', size of the rest, 'FPCh', version 1, plug-in id, plug-in version,
// number of programs, a 28-byte program name, chunk size, chunk.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vstrender {

struct ProgramFile {
    std::int32_t pluginId = 0;
    std::int32_t pluginVersion = 0;
    std::int32_t numPrograms = 1;
    std::string programName;
    std::vector<std::uint8_t> chunk;
};

std::vector<std::uint8_t> encodeProgramFile(const ProgramFile& program);
// False with a reason when the bytes are not an opaque-chunk program file.
bool decodeProgramFile(const std::vector<std::uint8_t>& bytes, ProgramFile& program, std::string& error);

bool readFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error);
// Writes under a temporary name and renames, so a failure leaves no half file.
bool writeFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes, std::string& error);

}  // namespace vstrender
