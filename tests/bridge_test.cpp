// The entry steps and the bridge table with a test effect: what the adapter copies, what
// each slot reaches, and that failures leave nothing behind.
#include <gtest/gtest.h>

#include <cstring>
#include <new>

#include "entry/bridge_ops.h"
#include "event_list.h"

namespace {

int liveProbes = 0;
bool throwInConstructor = false;

struct BridgeProbe final : TVintrel {
    int resets = 0, closes = 0, resumes = 0, inits = 0, sliders = 0, blocks = 0, samples = 0;
    bool throwOnLoad = false;
    BridgeProbe() {
        if (throwInConstructor) throw std::bad_alloc();
        ++liveProbes;
        EffectName = "A probe effect whose name is longer than sixty-four characters, on purpose";
        ProductString = "probe";
        VendorString = "tests";
        ProgramName = "a program name longer than twenty-four";
        VendorVersion = 7;
        UniqueId = 1234;
        Channels = 2;
        AddParameter(1, nullptr, 0.0, 0.0, 1.0, 1.0, "", "", "a label of more than thirty-one chars", "gain");
    }
    ~BridgeProbe() override { --liveProbes; }
    void DoReset() override { ++resets; }
    void DoClose() override { ++closes; }
    void DoInit() override { ++inits; }
    void DoSlider() override { ++sliders; }
    void DoBlock() override { ++blocks; }
    void DoSample() override {
        ++samples;
        Samples[0] *= 2;
        Samples[1] += 1;
    }
    void DoSerialize() override { Files[0].StreamValue(Sliders[1]); }
    std::int32_t LoadState(const void* data, std::int32_t size, bool preset) override {
        if (throwOnLoad) throw std::bad_alloc();
        return TVintrel::LoadState(data, size, preset);
    }
};

VstIntPtr answerVersion = 2400;
int versionRequests = 0;
VstIntPtr VSTCALLBACK testHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    if (opcode == audioMasterVersion) {
        ++versionRequests;
        return answerVersion;
    }
    return 0;
}

struct Instance {
    AEffect* record = vintrel::createInstance<BridgeProbe>(testHost);
    ~Instance() {
        if (record) record->dispatcher(record, effClose, 0, 0, nullptr, 0.0f);
    }
    CVeST* adapter() const { return static_cast<CVeST*>(record->object); }
    BridgeProbe* fx() const { return static_cast<BridgeProbe*>(adapter()->Effect); }
};

TEST(Entry, BuildsAdapterAroundEffectAndLinksThem) {
    Instance one;
    ASSERT_NE(one.record, nullptr);
    EXPECT_EQ(one.fx()->VeST, one.adapter());
    EXPECT_EQ(one.record->numInputs, 2);
    EXPECT_EQ(one.record->numOutputs, 2);
    EXPECT_EQ(one.record->uniqueID, 1234);
    EXPECT_EQ(one.record->numParams, 1);
    EXPECT_EQ(one.record->flags, effFlagsCanReplacing | effFlagsProgramChunks | effFlagsCanDoubleReplacing);
    for (void* reserved : one.adapter()->Bridge.Reserved) EXPECT_EQ(reserved, nullptr);
    EXPECT_EQ(one.fx()->resets + one.fx()->inits + one.fx()->sliders, 0);  // no hook runs in the entry
}

TEST(Entry, RefusalAndExhaustionLeaveNothingAllocated) {
    answerVersion = 0;
    versionRequests = 0;
    EXPECT_EQ(vintrel::createInstance<BridgeProbe>(testHost), nullptr);
    EXPECT_EQ(versionRequests, 1);
    EXPECT_EQ(liveProbes, 0);
    answerVersion = 2400;
    EXPECT_EQ(vintrel::createInstance<BridgeProbe>(nullptr), nullptr);
    throwInConstructor = true;
    EXPECT_EQ(vintrel::createInstance<BridgeProbe>(testHost), nullptr);
    throwInConstructor = false;
    EXPECT_EQ(liveProbes, 0);
}

TEST(Bridge, HostEventsReachTheirHooks) {
    Instance one;
    one.record->dispatcher(one.record, effOpen, 0, 0, nullptr, 0.0f);
    one.record->dispatcher(one.record, effMainsChanged, 0, 1, nullptr, 0.0f);
    EXPECT_EQ(one.fx()->resets, 1);
    EXPECT_EQ(one.fx()->inits, 1);
    EXPECT_EQ(one.fx()->sliders, 1);

    // Two channels: the two-channel path copies in, runs DoSample, copies out.
    float left[3] = {1, 2, 3}, right[3] = {0, 0, 0};
    float* channels[2] = {left, right};
    one.record->processReplacing(one.record, channels, channels, 3);
    EXPECT_EQ(one.fx()->blocks, 1);
    EXPECT_EQ(one.fx()->samples, 3);
    EXPECT_EQ(left[2], 6.0f);
    EXPECT_EQ(right[2], 1.0f);
    one.record->processReplacing(one.record, channels, channels, 0);
    one.record->processReplacing(one.record, nullptr, nullptr, 4);
    EXPECT_EQ(one.fx()->blocks, 3);
    EXPECT_EQ(one.fx()->samples, 3);

    BridgeProbe* fx = one.fx();
    one.record->dispatcher(one.record, effClose, 0, 0, nullptr, 0.0f);
    one.record = nullptr;
    EXPECT_EQ(liveProbes, 0);  // closing destroyed the effect exactly once
    (void)fx;
}

TEST(Bridge, TextCopiesAreBoundedToWhatHostsAllocate) {
    Instance one;
    char buffer[128];
    std::memset(buffer, 'x', sizeof buffer);
    one.record->dispatcher(one.record, effGetEffectName, 0, 0, buffer, 0.0f);
    EXPECT_EQ(std::strlen(buffer), 63u);
    EXPECT_EQ(buffer[64], 'x');
    std::memset(buffer, 'x', sizeof buffer);
    one.record->dispatcher(one.record, effGetProgramName, 0, 0, buffer, 0.0f);
    EXPECT_STREQ(buffer, "a program name longer t");
    std::memset(buffer, 'x', sizeof buffer);
    one.record->dispatcher(one.record, effGetParamLabel, 0, 0, buffer, 0.0f);
    EXPECT_EQ(std::strlen(buffer), 31u);
    EXPECT_EQ(one.fx()->ProgramName, "a program name longer than twenty-four");  // the stored text stays whole
}

TEST(Bridge, ExhaustionInAStateLoadAnswersZeroAndKeepsTheState) {
    Instance one;
    one.fx()->Sliders[1] = 0.5;
    one.fx()->throwOnLoad = true;
    float chunk[2] = {-1000.0f, 1.0f};
    EXPECT_EQ(one.record->dispatcher(one.record, effSetChunk, 0, sizeof chunk, chunk, 0.0f), 0);
    EXPECT_EQ(one.fx()->Sliders[1], 0.5);
}

TEST(Adapter, MidiRingWrapsAfterAThousandEvents) {
    Instance one;
    EventList events(1001);
    EXPECT_EQ(one.record->dispatcher(one.record, effProcessEvents, 0, 0, events.list(), 0.0f), 1);
    EXPECT_EQ(one.adapter()->MidiWrite, 1);
    EXPECT_EQ(one.adapter()->MidiRead, 0);
    EXPECT_EQ(one.adapter()->MidiRing[0].deltaFrames, 1000);
    EXPECT_EQ(one.adapter()->MidiRing[1].deltaFrames, 1);
    EXPECT_EQ(one.adapter()->MidiRing[999].midiData[0], static_cast<char>(0x90));

    events.noMidi();
    EXPECT_EQ(one.record->dispatcher(one.record, effProcessEvents, 0, 0, events.list(), 0.0f), 1);
    EXPECT_EQ(one.adapter()->MidiWrite, 1);
}

}  // namespace
