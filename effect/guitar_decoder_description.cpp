// What the decoder tells the host about itself, and what it saves.
#include "effect/decoder_parameters.h"
#include "effect/guitar_decoder.h"
#include "runtime/numeric.h"

TVintrelEffect::TVintrelEffect() {
    EffectName = "Brelvander_3-channel acoustic guit decoder MS + DI";
    ProductString = EffectName;
    ProgramName = EffectName;
    VendorString = "Brelvander";
    VendorVersion = 1000;
    UniqueId = 0;
    Channels = 3;

    // Each row as the table gives it; its labels right after it.
    for (const decoder::Parameter& p : decoder::kParameters) {
        AddParameter(p.slider, nullptr, p.defaultValue, p.min, p.max, p.step, "", "", p.label, p.name);
        for (std::int32_t k = 0; k < p.labelCount(); ++k)
            SliderInfos.back().Labels.emplace_back(p.labels[static_cast<std::size_t>(k)]);
    }
}

// Sliders 1 to 64 travel in the state chunk, whether or not a row uses them: 65 floats with
// the marker, the 260 bytes every saved session holds.
void TVintrelEffect::DoSerialize() {
    constexpr double kLastSerialized = 64;
    constexpr int kLoopGuard = 1000000;  // ends the loop even if the counter never reached the end
    CVintrelFile& stream = Files[0];
    SerializeIndex = 1;
    for (int guard = 0; guard < kLoopGuard; ++guard) {
        stream.StreamValue(Sliders[static_cast<std::size_t>(vintrel::sliderPosition(SerializeIndex))]);
        SerializeIndex += 1;
        if (!(SerializeIndex <= kLastSerialized)) break;
    }
}
