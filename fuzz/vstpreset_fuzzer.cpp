// Arbitrary bytes read as a VST 3 preset file, as a user may hand the renderer or a host one:
// the reader must never read outside them, a file it takes must write back to bytes that read
// the same, and its component state goes into the decoder as a host would load it.
#include <cstdint>
#include <vector>

#include "entry/embedded_decoder.h"
#include "vst3/vst3_preset_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The file lives in a heap block of exactly its size, so a read past it is caught.
    const std::vector<std::uint8_t> bytes(data, data + size);
    vst3preset::PresetFile preset;
    std::string error;
    if (!vst3preset::decode(bytes.data(), bytes.size(), preset, error)) {
        if (error.empty()) __builtin_trap();  // a refusal says why
        return 0;
    }
    const std::vector<std::uint8_t> again = vst3preset::encode(preset);
    vst3preset::PresetFile reread;
    if (!vst3preset::decode(again.data(), again.size(), reread, error) || reread.classId != preset.classId ||
        reread.component != preset.component || reread.controller != preset.controller ||
        reread.hasController != preset.hasController || reread.metaInfo != preset.metaInfo)
        __builtin_trap();
    static const std::unique_ptr<vintrel::EmbeddedDecoder> decoder = vintrel::EmbeddedDecoder::create(48000.0, 64);
    decoder->loadState(preset.component.data(), preset.component.size());
    return 0;
}
