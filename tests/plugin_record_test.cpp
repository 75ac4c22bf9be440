// The decoder as a host first meets it: the exports, the entry record and the dispatcher.
#include <cstring>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "event_list.h"
#include "plugin_fixture.h"

namespace {

const char kName[] = "Brelvander_3-channel acoustic guit decoder MS + DI";

TEST(Exports, EachGivesAFreshIndependentInstance) {
    for (const char* exportName : {"VSTPluginMain", "main", "MAIN"}) {
        SCOPED_TRACE(exportName);
        VstPluginMainProc entry = decoderModule().symbol(exportName);
        ASSERT_NE(entry, nullptr);
        vsthost::Plugin first, second;
        ASSERT_TRUE(first.instantiate(entry));
        ASSERT_TRUE(second.instantiate(entry));
        EXPECT_NE(first.effect(), second.effect());
        first.open();
        second.open();
        first.setParameter(0, 1.0f);
        first.setProgramName("mine");
        EXPECT_EQ(second.getParameter(0), 0.5f);
        EXPECT_EQ(second.programName(), std::string(kName).substr(0, 23));
        // The single version request came before any record existed.
        ASSERT_FALSE(first.calls.empty());
        EXPECT_EQ(first.calls[0].opcode, audioMasterVersion);
        EXPECT_FALSE(first.calls[0].fromEffect);
    }
}

TEST(Exports, AHostAnsweringVersionZeroGetsNothingAndNothingLeaks) {
    for (const char* exportName : {"VSTPluginMain", "main", "MAIN"}) {
        VstPluginMainProc entry = decoderModule().symbol(exportName);
        vsthost::Plugin refusing;
        refusing.versionAnswer = 0;
        EXPECT_FALSE(refusing.instantiate(entry)) << exportName;
        ASSERT_EQ(refusing.calls.size(), 1u);
        EXPECT_EQ(refusing.calls[0].opcode, audioMasterVersion);
    }
#if defined(__GLIBC__)
    // A refused instance would hold its effect (several kilobytes) if it leaked.
    vsthost::Plugin refusing;
    refusing.versionAnswer = 0;
    refusing.recordCalls = false;
    refusing.instantiate(decoderModule().entry());
    const auto before = mallinfo2().uordblks;
    for (int i = 0; i < 200; ++i) refusing.instantiate(decoderModule().entry());
    EXPECT_LT(mallinfo2().uordblks - before, 4096u);
#endif
}

TEST(Record, AFreshRecordDescribesTheDecoder) {
    Decoder fx(false);
    const AEffect* e = fx.effect();
    EXPECT_EQ(e->magic, 1450406992);
    EXPECT_EQ(e->numPrograms, 1);
    EXPECT_EQ(e->numParams, 11);
    EXPECT_EQ(e->numInputs, 3);
    EXPECT_EQ(e->numOutputs, 3);
    EXPECT_EQ(e->flags, 4144);
    EXPECT_EQ(e->resvd1, 0);
    EXPECT_EQ(e->resvd2, 0);
    EXPECT_EQ(e->initialDelay, 0);
    EXPECT_EQ(e->realQualities, 0);
    EXPECT_EQ(e->offQualities, 0);
    EXPECT_EQ(e->ioRatio, 1.0f);
    EXPECT_NE(e->object, nullptr);
    EXPECT_EQ(e->uniqueID, 0);
    EXPECT_EQ(e->version, 1);
    EXPECT_NE(e->dispatcher, nullptr);
    EXPECT_NE(e->processReplacing, nullptr);
    EXPECT_NE(e->processDoubleReplacing, nullptr);
    for (char c : e->future) EXPECT_EQ(c, 0);
}

TEST(Dispatcher, AnswersOfTheBaseOperations) {
    Decoder fx;
    EXPECT_EQ(fx.dispatch(effIdentify), 1316373862);
    EXPECT_EQ(fx.dispatch(effGetVstVersion), 2400);
    EXPECT_EQ(fx.dispatch(effGetPlugCategory), 0);
    EXPECT_EQ(fx.dispatch(effGetTailSize), 0);
    EXPECT_EQ(fx.dispatch(effGetCurrentMidiProgram), -1);
    EXPECT_EQ(fx.dispatch(effCanBeAutomated, 0), 1);
    EXPECT_EQ(fx.dispatch(effCanBeAutomated, 1000), 1);
    EXPECT_EQ(fx.dispatch(effSetTotalSampleToProcess, 0, 12345), 12345);
    EXPECT_EQ(fx.dispatch(effGetVendorVersion), 1000);
    EXPECT_EQ(fx.dispatch(effGetVu), 0);
    EXPECT_EQ(fx.dispatch(effString2Parameter, 0, 0, const_cast<char*>("1")), 0);
    for (VstInt32 opcode :
         std::initializer_list<VstInt32>{80, 200, -1, effGetNumProgramCategories, effGetErrorText, effKeysRequired,
                                         effSetBlockSizeAndSampleRate, effGetMidiKeyName, effStartProcess})
        EXPECT_EQ(fx.dispatch(opcode), 0) << opcode;

    // No editor: editor requests answer 0 and touch nothing.
    void* rect = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(fx.dispatch(effEditGetRect, 0, 0, &rect), 0);
    EXPECT_EQ(rect, reinterpret_cast<void*>(0x1234));
    EXPECT_EQ(fx.dispatch(effEditOpen, 0, 0, &rect), 0);
    EXPECT_EQ(fx.dispatch(effEditIdle), 0);
    EXPECT_EQ(fx.effect()->flags & effFlagsHasEditor, 0);

    void* inputArrangement = &rect;
    void* outputArrangement = &rect;
    EXPECT_EQ(
        fx.dispatch(effGetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr>(&inputArrangement), &outputArrangement),
        0);
    EXPECT_EQ(inputArrangement, nullptr);
    EXPECT_EQ(outputArrangement, nullptr);
    EXPECT_EQ(fx.dispatch(effGetSpeakerArrangement, 0, 0, nullptr), 0);  // null places are skipped
}

TEST(Dispatcher, IdentityTexts) {
    Decoder fx;
    char buffer[100];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(fx.dispatch(effGetEffectName, 0, 0, buffer), 1);
    EXPECT_STREQ(buffer, kName);
    EXPECT_EQ(fx.productString(), kName);
    EXPECT_EQ(fx.vendorString(), "Brelvander");
    // A host buffer of the effect name's published 32 bytes is too small for the name;
    // 64 bytes are never exceeded.
    std::memset(buffer, 'x', sizeof buffer);
    fx.dispatch(effGetProductString, 0, 0, buffer);
    EXPECT_EQ(buffer[51], 'x');
    for (VstInt32 opcode : {effGetEffectName, effGetVendorString, effGetProductString, effGetProgramName,
                            effGetParamName, effGetParamLabel, effGetParamDisplay, effSetProgramName,
                            effGetProgramNameIndexed, effCanDo, effProcessEvents, effGetChunk, effSetChunk})
        EXPECT_EQ(fx.dispatch(opcode, 0, 8, nullptr), 0) << "null pointer to opcode " << opcode;
}

TEST(Programs, OneProgramWhoseNameTheHostMayChange) {
    Decoder fx;
    EXPECT_EQ(fx.programName(), std::string(kName, 23));  // cut to the published 24 bytes
    char buffer[64];
    std::memset(buffer, 'x', sizeof buffer);
    fx.dispatch(effGetProgramName, 0, 0, buffer);
    EXPECT_EQ(std::strlen(buffer), 23u);
    EXPECT_EQ(buffer[24], 'x');

    fx.setProgramName("Bright strum");
    EXPECT_EQ(fx.programName(), "Bright strum");
    fx.dispatch(effSetProgram, 0, 0);
    EXPECT_EQ(fx.programName(), "Bright strum");
    EXPECT_EQ(fx.dispatch(effSetProgram, 0, 5), 0);
    EXPECT_EQ(fx.dispatch(effGetProgram), 0);
    fx.dispatch(effSetProgram, 0, 1);
    EXPECT_EQ(fx.dispatch(effGetProgram), 0);
    fx.dispatch(effSetProgram, 0, -1);
    EXPECT_EQ(fx.dispatch(effGetProgram), -1);

    std::strcpy(buffer, "untouched");
    EXPECT_EQ(fx.dispatch(effGetProgramNameIndexed, 0, 0, buffer), 0);
    EXPECT_STREQ(buffer, "untouched");
}

TEST(CanDo, OnlyTheExactMidiTextIsAnsweredAndNeverOne) {
    Decoder fx;
    auto canDo = [&](const char* text) { return fx.dispatch(effCanDo, 0, 0, const_cast<char*>(text)); };
    EXPECT_EQ(canDo("receiveVstMidiEvent"), 4400);
    for (const char* text :
         {"receiveVstEvents", "receiveVstTimeInfo", "bypass", "receiveVstMidiEventX", "receiveVstMidiEven", ""})
        EXPECT_EQ(canDo(text), -1) << text;
    // The text ends where the host's buffer does: nothing beyond its zero is read.
    char shortText[2] = {'r', '\0'};
    EXPECT_EQ(canDo(shortText), -1);
}

TEST(Midi, EventListsAreTakenAndLeaveTheAudioAlone) {
    Decoder fx;
    fx.start();
    Channels3<double> before(16), after(16);
    for (int k = 0; k < 3; ++k) {
        before.in[k].assign(16, 0.25 * (k + 1));
        after.in[k] = before.in[k];
    }
    fx.process(before.inputs, before.outputs, 16);
    EventList events(1001);
    EXPECT_EQ(fx.dispatch(effProcessEvents, 0, 0, events.list()), 1);
    events.noMidi();
    EXPECT_EQ(fx.dispatch(effProcessEvents, 0, 0, events.list()), 1);
    fx.process(after.inputs, after.outputs, 16);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(before.out[k], after.out[k]);
}

TEST(Record, TheOldAccumulatingProcessLeavesTheOutputsAlone) {
    Decoder fx;
    fx.start();
    Channels3<float> buffers(32);
    for (int k = 0; k < 3; ++k) {
        buffers.in[k].assign(32, 0.5f);
        buffers.out[k].assign(32, -2.0f);
    }
    fx.effect()->process(fx.effect(), buffers.inputs, buffers.outputs, 32);
    for (int k = 0; k < 3; ++k)
        for (float v : buffers.out[k]) EXPECT_EQ(v, -2.0f);
}

TEST(Close, ClosingAnswersOneAndNeverTalksToTheHostAgain) {
    Decoder fx;
    fx.start();
    const std::size_t callsBefore = fx.calls.size();
    EXPECT_EQ(fx.close(), 1);
    EXPECT_EQ(fx.calls.size(), callsBefore);
}

}  // namespace
