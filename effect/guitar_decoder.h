// The guitar decoder: mid and side microphones and a DI pickup in, a stereo pair (and the DI
// alone, when routed there) out.
#pragma once

#include <cstdint>

#include "effect/decoder_parameters.h"
#include "effect/level_gain.h"
#include "runtime/vintrel.h"

class TVintrelEffect final : public TVintrel {
public:
    TVintrelEffect();

    void DoReset() override;
    void DoInit() override;
    void DoSlider() override;
    void DoSliderChanged(std::int32_t index) override;
    void DoBlock() override;
    void DoSample() override;
    void DoGfx() override {}
    void DoSerialize() override;

    // Decodes a whole block of the three channels in vector registers, each output exactly as
    // DoSample gives it, and leaves Samples and the variables as the last frame leaves them,
    // unless told that more of the same host block follows (the next part sets them anew).
    // Answers the number of frames decoded.
    enum class LastFrame { Kept, FollowedByMore };
    template <class Sample>
    std::int32_t DoSampleBlock(Sample* const* inputs, Sample* const* outputs, std::int32_t frames,
                               LastFrame last = LastFrame::Kept);

    // All 0.0 until the first open, so a host that processes before it hears silence.
    // Derived from the sliders by DoSlider, on the host's thread, while the audio thread reads.
    vintrel::SharedDouble MidTrimGain{}, SideTrimGain{}, OutputTrimGain{}, WidthBalance{}, SwapSelect{}, DiGain{}, DiPan{},
        DiMixAmount{}, DiPin3Amount{}, AbSelect{}, MsEnable{}, DiEnable{}, MainTrimGain{};
    // Per-frame intermediates of DoSample.
    double WidthCompensation{}, MidWeight{}, DiLeft{}, DiRight{}, MidSignal{}, SideSignal{}, LeftSignal{},
        RightSignal{}, DiSignal{};
    // Host values, refreshed on resume (or a loaded state) and per block; nothing in the
    // signal path reads them.
    vintrel::SharedDouble SampleRate{}, ChannelCount{}, BlockLength{}, Tempo{}, TimeSigNumerator{}, TimeSigDenominator{}, PlayState{},
        BeatPosition{};
    double SerializeIndex{};

private:
    void derive(decoder::Slider slider);

    // Each level's gain, 10^(v/20), without a power of ten for a value met before.
    vintrel::LevelGain levelGains[5];
    // False from open until DoSlider has derived every variable: a single change then derives all.
    vintrel::SharedFlag derivedFromEverySlider;
    // The level lost to width: full at 0, half at either end; read from the slider each frame.
    double widthCompensation() const;
    // The same, worked out when the slider changes, so a block does not wait on its division.
    vintrel::SharedDouble widthCompensationOfSlider{};
};
