// What the decoder learns from its host: values pulled on resume and on every block.
#include <gtest/gtest.h>

#include <cmath>

#include "effect/guitar_decoder.h"
#include "entry/bridge_ops.h"

namespace {

VstTimeInfo hostTime{};
bool hostHasTime = true;

VstIntPtr VSTCALLBACK timeHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    if (opcode == audioMasterVersion) return 2400;
    if (opcode == audioMasterGetTime && hostHasTime) return reinterpret_cast<VstIntPtr>(&hostTime);
    return 0;
}

struct Session {
    AEffect* record = vintrel::createInstance<TVintrelEffect>(timeHost);
    ~Session() { dispatch(effClose); }
    VstIntPtr dispatch(VstInt32 opcode, VstIntPtr value = 0, float opt = 0.0f) {
        return record->dispatcher(record, opcode, 0, value, nullptr, opt);
    }
    TVintrelEffect& fx() { return *static_cast<TVintrelEffect*>(static_cast<CVeST*>(record->object)->Effect); }
    void block() {
        double frame[3] = {};
        double* channels[3] = {&frame[0], &frame[1], &frame[2]};
        record->processDoubleReplacing(record, channels, channels, 1);
    }
};

TEST(Transport, ResumePullsRateBlockSizeChannelsAndTempo) {
    hostHasTime = true;
    hostTime = {};
    hostTime.tempo = 96.0;
    Session s;
    s.dispatch(effOpen);
    s.dispatch(effSetSampleRate, 0, 48000.0f);
    s.dispatch(effSetBlockSize, 256);
    EXPECT_EQ(s.fx().SampleRate, 0.0);  // not before the next resume
    s.dispatch(effMainsChanged, 1);
    EXPECT_EQ(s.fx().SampleRate, 48000.0);
    EXPECT_EQ(s.fx().BlockLength, 256.0);
    EXPECT_EQ(s.fx().ChannelCount, 3.0);
    EXPECT_EQ(s.fx().Tempo, 96.0);
    EXPECT_EQ(s.fx().GfxRate, 30.0);
}

TEST(Transport, EveryBlockReadsPlayStatePositionAndMetre) {
    hostHasTime = true;
    hostTime = {};
    Session s;
    s.dispatch(effOpen);
    s.dispatch(effMainsChanged, 1);
    hostTime.tempo = 120.0;
    hostTime.timeSigNumerator = 7;
    hostTime.timeSigDenominator = 8;
    hostTime.ppqPos = 12.5;
    const std::pair<VstInt32, double> states[] = {{0, 0.0},
                                                  {kVstTransportPlaying, 1.0},
                                                  {kVstTransportRecording, 4.0},
                                                  {kVstTransportPlaying | kVstTransportRecording, 5.0}};
    for (auto [flags, playState] : states) {
        hostTime.flags = flags;
        s.block();
        EXPECT_EQ(s.fx().PlayState, playState) << flags;
    }
    EXPECT_EQ(s.fx().Tempo, 120.0);
    EXPECT_EQ(s.fx().TimeSigNumerator, 7.0);
    EXPECT_EQ(s.fx().TimeSigDenominator, 8.0);
    EXPECT_EQ(s.fx().BeatPosition, 12.5);

    // A NaN tempo from the host is stored as 0; without time information the metre stays.
    hostTime.tempo = std::nan("");
    s.block();
    EXPECT_EQ(s.fx().Tempo, 0.0);
    hostHasTime = false;
    s.block();
    EXPECT_EQ(s.fx().TimeSigNumerator, 7.0);
    EXPECT_EQ(s.fx().PlayState, 0.0);
    EXPECT_EQ(s.fx().BeatPosition, 0.0);
    hostHasTime = true;
}

TEST(Transport, ServicesGivenNoAdapterAnswerZero) {
    double tempo = 5.0;
    EXPECT_EQ(VeSTTimeSignature(nullptr, &tempo, nullptr, nullptr), 0);
    EXPECT_EQ(tempo, 5.0);
    EXPECT_EQ(VeSTTempo(nullptr), 0.0);
    EXPECT_FALSE(VeSTIsPlaying(nullptr));
    EXPECT_EQ(VeSTGetSampleRate(nullptr), 0.0);
    EXPECT_EQ(VeSTSetInitialDelay(nullptr, 64), 0);
}

TEST(Transport, InitialDelayIsStoredWithoutTellingTheHost) {
    Session s;
    EXPECT_EQ(VeSTSetInitialDelay(s.fx().VeST, 64), 1);
    EXPECT_EQ(s.record->initialDelay, 64);
}

}  // namespace
