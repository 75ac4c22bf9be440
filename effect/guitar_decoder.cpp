// The decoder's audio: slider values to gains (DoSlider), then one frame at a time
// (DoSample). Every value stored passes the store guard, so a NaN or infinity never
// outlives the formula it appears in.
#include "effect/guitar_decoder.h"

#include <cmath>
#include <initializer_list>

#include "runtime/vest_services.h"
#include "effect/decoder_parameters.h"
#include "effect/decoder_block.h"
#include "runtime/numeric.h"

using vintrel::samplePosition;
using vintrel::storeGuard;
using namespace decoder;

namespace {

DecodeFloats decodeFloats = decodeFloats128;
DecodeDoubles decodeDoubles = decodeDoubles128;

// The widest kernels this processor runs, chosen once when the module loads, so processing
// never waits on a first-use guard.
const bool kernelsChosen = [] {
    for (int width : {8, 4})
        if (useDecoderKernels(width)) break;
    return true;
}();

}  // namespace

bool useDecoderKernels(int width) {
    if (width == 2) {
        decodeFloats = decodeFloats128;
        decodeDoubles = decodeDoubles128;
        return true;
    }
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    if (width == 8 && __builtin_cpu_supports("avx512f")) {
        decodeFloats = decodeFloatsAvx512;
        decodeDoubles = decodeDoublesAvx512;
        return true;
    }
    if (width == 4 && __builtin_cpu_supports("avx2")) {
        decodeFloats = decodeFloatsAvx2;
        decodeDoubles = decodeDoublesAvx2;
        return true;
    }
#endif
    return false;
}

void TVintrelEffect::DoReset() {
    TVintrel::DoReset();
    // clang-format off
    for (vintrel::SharedDouble* v : {&MidTrimGain, &SideTrimGain, &OutputTrimGain, &WidthBalance, &SwapSelect,
                                     &DiGain, &DiPan, &DiMixAmount, &DiPin3Amount, &AbSelect, &MsEnable, &DiEnable,
                                     &MainTrimGain, &SampleRate, &ChannelCount, &BlockLength, &Tempo,
                                     &TimeSigNumerator, &TimeSigDenominator, &PlayState, &BeatPosition})
        *v = 0.0;
    for (double* v : {&WidthCompensation, &MidWeight, &DiLeft, &DiRight, &MidSignal, &SideSignal, &LeftSignal,
                      &RightSignal, &DiSignal, &SerializeIndex})
        *v = 0.0;
    // clang-format on
    derivedFromEverySlider = false;
    StringTable[10000] = "Courier New";  // only the drawing section would use it
    StringCount = static_cast<double>(StringTable.size());
}

void TVintrelEffect::DoInit() {
    GfxRate = 30.0;
    SampleRate = storeGuard(VeSTGetSampleRate(VeST));
    ChannelCount = storeGuard(VeSTGetNumInputs(VeST));
    BlockLength = storeGuard(VeSTGetBlockSize(VeST));
    Tempo = storeGuard(VeSTTempo(VeST));
}

void TVintrelEffect::DoSlider() {
    for (Slider s : {kMidTrim, kSideTrim, kOutputTrim, kStereoWidth, kSwap, kDiLevel, kDiPan, kDiRouting, kAbMs,
                     kActiveChannels, kMainTrim})
        derive(s);
    derivedFromEverySlider = true;
}

// What one host change changes: the variables of its own slider, the same values a whole
// DoSlider would give them. Until every slider has been derived (after open), everything is.
void TVintrelEffect::DoSliderChanged(std::int32_t index) {
    if (!derivedFromEverySlider || index < kMidTrim || index > kMainTrim)
        DoSlider();
    else
        derive(static_cast<Slider>(index));
}

// The variables one slider gives, in the order of the decoder's steps.
void TVintrelEffect::derive(Slider slider) {
    switch (slider) {
        case kMidTrim: MidTrimGain = storeGuard(levelGains[0].of(Sliders[kMidTrim])); break;
        case kSideTrim: SideTrimGain = storeGuard(levelGains[1].of(Sliders[kSideTrim])); break;
        case kOutputTrim: OutputTrimGain = storeGuard(levelGains[2].of(Sliders[kOutputTrim])); break;
        case kStereoWidth:
            WidthBalance = storeGuard((kPositionHalfRange + Sliders[kStereoWidth]) / kPositionSpan);
            widthCompensationOfSlider = widthCompensation();
            break;
        case kSwap: SwapSelect = storeGuard(Sliders[kSwap]); break;
        case kDiLevel: DiGain = storeGuard(levelGains[3].of(Sliders[kDiLevel])); break;
        case kDiPan: DiPan = storeGuard((kPositionHalfRange + Sliders[kDiPan]) / kPositionSpan); break;
        case kDiRouting:
            DiMixAmount = storeGuard(1 - Sliders[kDiRouting]);
            DiPin3Amount = storeGuard(1 - DiMixAmount);
            break;
        case kAbMs: AbSelect = storeGuard(Sliders[kAbMs]); break;
        case kActiveChannels: {
            // "MS only" (1) drops the DI from the pair, "DI only" (2) the microphones. Decided
            // before they are stored, so the audio thread never sees a passing 1.
            double msEnable = 1, diEnable = 1;
            if (Sliders[kActiveChannels] > 1) msEnable = 0;
            if (Sliders[kActiveChannels] == 1) diEnable = 0;
            MsEnable = msEnable;
            DiEnable = diEnable;
            break;
        }
        case kMainTrim: MainTrimGain = storeGuard(levelGains[4].of(Sliders[kMainTrim])); break;
    }
}

double TVintrelEffect::widthCompensation() const {
    return 1 - std::fabs(Sliders[kStereoWidth]) / kPositionSpan;
}

void TVintrelEffect::DoBlock() {
    double tempo = 0.0, numerator = 0.0, denominator = 0.0;
    // Without time information from the host, the last known tempo and metre stay.
    if (VeSTTimeSignature(VeST, &tempo, &numerator, &denominator) == 1) {
        Tempo = storeGuard(tempo);
        TimeSigNumerator = storeGuard(numerator);
        TimeSigDenominator = storeGuard(denominator);
    }
    const double playing = VeSTIsPlaying(VeST) ? 1 : 0;
    const double recording = VeSTIsRecording(VeST) ? 4 : 0;
    PlayState = storeGuard(playing + recording);
    BeatPosition = storeGuard(VeSTBeatPosition(VeST));
}

void TVintrelEffect::DoSample() {
    const double in0 = Samples[0], in1 = Samples[1], in2 = Samples[2];
    if (AbSelect == 0) {
        WidthCompensation = storeGuard(widthCompensation());
        Samples[1] = in1 * WidthBalance;  // unguarded: the next guarded store catches it
        MidWeight = storeGuard(1 - WidthBalance);
        Samples[0] = in0 * MidWeight;  // unguarded, likewise
        DiRight = storeGuard(in2 * DiPan);
        DiLeft = storeGuard(in2 * (1 - DiPan));
        MidSignal = storeGuard(Samples[0] * MsEnable);
        SideSignal = storeGuard(MsEnable * Samples[1]);
        Samples[0] = storeGuard((MidSignal + SideSignal) * WidthCompensation * MidTrimGain * OutputTrimGain);
        Samples[1] = storeGuard((MidSignal - SideSignal) * WidthCompensation * SideTrimGain * OutputTrimGain);
        LeftSignal = storeGuard(Samples[0]);
        RightSignal = storeGuard(Samples[1]);
        // SwapSelect 0 keeps left and right, 1 swaps them; a loaded in-between value may
        // land both on one slot, and the right channel's store then wins.
        Samples[samplePosition(SwapSelect)] =
            storeGuard((LeftSignal + DiGain * DiLeft * DiMixAmount * DiEnable) * kDecodedPairGain * MainTrimGain);
        Samples[samplePosition(1 - SwapSelect)] =
            storeGuard((DiGain * DiRight * DiMixAmount * DiEnable + RightSignal) * kDecodedPairGain * MainTrimGain);
        DiSignal = storeGuard(Samples[2]);
        Samples[2] = storeGuard(DiSignal * DiGain * DiPin3Amount * MainTrimGain);
    } else {
        // The plain mid/side decode to compare against: only the DI level and routing apply.
        MidSignal = storeGuard(in0);
        SideSignal = storeGuard(in1);
        DiRight = storeGuard(in2 * DiPan);
        DiLeft = storeGuard(in2 * (1 - DiPan));
        Samples[0] = storeGuard(MidSignal + SideSignal);
        Samples[1] = storeGuard(MidSignal - SideSignal);
        DiSignal = storeGuard(in2);
        Samples[2] = storeGuard(DiSignal * DiGain * DiPin3Amount);
    }
}

template <class Sample>
std::int32_t TVintrelEffect::DoSampleBlock(Sample* const* inputs, Sample* const* outputs, std::int32_t frames,
                                           LastFrame lastFrame) {
    if (frames <= 0) return 0;
    // The last frame's inputs, before an in-place block overwrites them.
    const std::int32_t last = frames - 1;
    const double last0 = inputs[0][last], last1 = inputs[1][last], last2 = inputs[2][last];

    DecoderBlock block;
    block.processed = AbSelect == 0;
    block.a = samplePosition(SwapSelect);
    block.b = samplePosition(1 - SwapSelect);
    block.widthBalance = WidthBalance;
    block.midWeight = storeGuard(1 - WidthBalance);
    block.widthCompensation = storeGuard(widthCompensationOfSlider);
    block.diPan = DiPan;
    block.oneMinusDiPan = 1 - DiPan;
    block.msEnable = MsEnable;
    block.midTrimGain = MidTrimGain;
    block.sideTrimGain = SideTrimGain;
    block.outputTrimGain = OutputTrimGain;
    block.diGain = DiGain;
    block.diMixAmount = DiMixAmount;
    block.diEnable = DiEnable;
    block.mainTrimGain = MainTrimGain;
    block.diPin3Amount = DiPin3Amount;
    auto decode = [&](const Sample* const* in, Sample* const* out, std::int32_t n) {
        if constexpr (sizeof(Sample) == sizeof(float))
            return decodeFloats(block, in, out, n);
        else
            return decodeDoubles(block, in, out, n);
    };

    const std::int32_t done = decode(inputs, outputs, frames);
    if (done < frames) {
        // The few frames left over go through the kernel too, padded to a whole register.
        Sample tailIn[3][kDecoderTailFrames] = {}, tailOut[3][kDecoderTailFrames];
        const std::int32_t rest = frames - done;
        for (int k = 0; k < 3; ++k)
            for (std::int32_t j = 0; j < rest; ++j) tailIn[k][j] = inputs[k][done + j];
        const Sample* in[3] = {tailIn[0], tailIn[1], tailIn[2]};
        Sample* out[3] = {tailOut[0], tailOut[1], tailOut[2]};
        decode(in, out, kDecoderTailFrames);
        // Highest channel first, as frame by frame: where outputs share a buffer, the lower stays.
        for (int k = 2; k >= 0; --k)
            for (std::int32_t j = 0; j < rest; ++j) outputs[k][done + j] = tailOut[k][j];
    }

    // Leave Samples and the variables as frame-by-frame decoding leaves them.
    if (lastFrame == LastFrame::FollowedByMore) return frames;
    Samples[0] = last0;
    Samples[1] = last1;
    Samples[2] = last2;
    DoSample();
    return frames;
}

template std::int32_t TVintrelEffect::DoSampleBlock<float>(float* const*, float* const*, std::int32_t, LastFrame);
template std::int32_t TVintrelEffect::DoSampleBlock<double>(double* const*, double* const*, std::int32_t, LastFrame);
