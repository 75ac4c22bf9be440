// What the decoder tells the host about itself, and what it saves.
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

    // clang-format off
    //           Index       Default  Min    Max   Step               Label  Name
    AddParameter(1, nullptr,    0,   -12,    12,   0.1, "", "", "dB", "mid channel trim");
    AddParameter(2, nullptr,    0,   -12,    12,   0.1, "", "", "dB", "side channel trim");
    AddParameter(3, nullptr,    0,  -150,    12,   0.1, "", "", "dB", "output trim");
    AddParameter(4, nullptr,    0,  -120,   120,   0.1, "", "", "", "stereo width");
    AddParameter(5, nullptr,    0,     0,     1,   1,   "", "", "", "L/R swap");
    SliderInfos.back().Labels = {"normal", "swapped"};
    AddParameter(6, nullptr, -150,  -150,    12,   0.1, "", "", "", "DI level");
    AddParameter(7, nullptr,    0,  -120,   120,   0.1, "", "", "", "DI pan to L/R");
    AddParameter(8, nullptr,    0,     0,     1,   1,   "", "", "", "DI routing");
    SliderInfos.back().Labels = {"mix DI with plugin output", "output DI via pin 3"};
    AddParameter(9, nullptr,    0,     0,     1,   1,   "", "", "", "A/B MS");
    SliderInfos.back().Labels = {"processed", "unprocessed"};
    AddParameter(10, nullptr,   0,     0,     2,   1,   "", "", "", "active channels");
    SliderInfos.back().Labels = {"all", "MS only", "DI only"};
    AddParameter(11, nullptr,   0,   -10,    10,   0.1, "", "", "", "main output trim");
    // clang-format on
}

// Sliders 1 to 64 travel in the state chunk, whether or not a row uses them.
void TVintrelEffect::DoSerialize() {
    CVintrelFile& stream = Files[0];
    SerializeIndex = 1;
    for (int guard = 0; guard < 1000000; ++guard) {
        stream.StreamValue(Sliders[static_cast<std::size_t>(vintrel::sliderPosition(SerializeIndex))]);
        SerializeIndex += 1;
        if (!(SerializeIndex <= 64)) break;
    }
}
