// Who the VST 3 plug-in is to hosts and to the preset files written for it: its processor's
// class id, whose four words give both its bytes in memory and its text in a preset file.
#pragma once

#include <cstdio>
#include <string>

#include "vst3/vst3_api.h"

namespace vst3 {

inline constexpr uint32 kClassIdWords[4] = {0x8C3E51A2, 0x4D7B4F19, 0xA6E2C3D4, 0x5B9F1E07};
inline constexpr Uid kClassId = makeUid(kClassIdWords[0], kClassIdWords[1], kClassIdWords[2], kClassIdWords[3]);
// The class's sub-categories, which preset files name as the plug-in's category.
inline constexpr char kSubCategories[] = "Fx|Spatial";

// The four words of an identifier as it lies in memory on this platform (makeUid's inverse).
inline void uidWords(const char* bytes, uint32 words[4]) {
    auto byte = [bytes](int i) { return static_cast<uint32>(static_cast<unsigned char>(bytes[i])); };
    auto bigEndian = [&](int at) { return byte(at) << 24 | byte(at + 1) << 16 | byte(at + 2) << 8 | byte(at + 3); };
#if defined(_WIN32)
    words[0] = byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24;
    words[1] = byte(4) << 16 | byte(5) << 24 | byte(6) | byte(7) << 8;
#else
    words[0] = bigEndian(0);
    words[1] = bigEndian(4);
#endif
    words[2] = bigEndian(8);
    words[3] = bigEndian(12);
}

// An identifier as preset files write it: its four words in upper-case hex, the first first.
inline std::string uidText(const char* bytes) {
    uint32 words[4];
    uidWords(bytes, words);
    char text[33];
    std::snprintf(text, sizeof text, "%08X%08X%08X%08X", static_cast<unsigned>(words[0]), static_cast<unsigned>(words[1]),
                  static_cast<unsigned>(words[2]), static_cast<unsigned>(words[3]));
    return text;
}

}  // namespace vst3
