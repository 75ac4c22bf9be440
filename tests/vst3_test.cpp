// The VST 3 plug-in through a host of our own: the published identifiers, the factory and its
// class, buses and arrangements, parameters and their texts, changes acting from their sample
// offset, both precisions in place and not, and state through short, failing and concurrent
// streams; the same bits as the VST 2 module throughout.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "host/threads.h"
#include "host/vst3_host.h"
#include "alignment_cases.h"
#include "far_values.h"
#include "plugin_fixture.h"
#include "preset_state.h"
#include "entry/embedded_decoder.h"
#include "entry/factory_presets.h"

namespace {

using namespace vst3;

const vst3host::Module& vst3Module() {
    static std::unique_ptr<vst3host::Module> module = [] {
        std::string error;
        auto loaded = vst3host::Module::load(VINTREL_VST3_PATH, error);
        if (!loaded) {
            ADD_FAILURE() << error;
            std::abort();
        }
        return loaded;
    }();
    return *module;
}

std::unique_ptr<vst3host::Plugin> plugin() {
    std::string error;
    auto p = vst3host::Plugin::create(vst3Module(), error);
    if (!p) ADD_FAILURE() << error;
    return p;
}

std::string hex(const char* bytes) {
    std::string out;
    char two[4];
    for (int i = 0; i < 16; ++i) {
        std::snprintf(two, sizeof two, "%02X", static_cast<unsigned char>(bytes[i]));
        out += two;
    }
    return out;
}

// Each identifier as the published interface lays it out on this platform.
TEST(Vst3Interface, IdentifiersHaveTheirPublishedBytes) {
    struct Published {
        const char* name;
        const Uid& ours;
        const char* linux;
        const char* windows;
    };
    const Published ids[] = {
        {"FUnknown", FUnknown::iid, "0000000000000000C000000000000046", "0000000000000000C000000000000046"},
        {"IPluginBase", IPluginBase::iid, "22888DDB156E45AE8358B34808190625", "DB8D88226E15AE458358B34808190625"},
        {"IPluginFactory", IPluginFactory::iid, "7A4D811C52114A1FAED9D2EE0B43BF9F", "1C814D7A11521F4AAED9D2EE0B43BF9F"},
        {"IPluginFactory2", IPluginFactory2::iid, "0007B650F24B4C0BA464EDB9F00B2ABB", "50B607004BF20B4CA464EDB9F00B2ABB"},
        {"IPluginFactory3", IPluginFactory3::iid, "4555A2ABC1234E579B12291036878931", "ABA2554523C1574E9B12291036878931"},
        {"IComponent", IComponent::iid, "E831FF31F2D54301928EBBEE25697802", "31FF31E8D5F20143928EBBEE25697802"},
        {"IAudioProcessor", IAudioProcessor::iid, "42043F99B7DA453CA569E79D9AAEC33D", "993F0442DAB73C45A569E79D9AAEC33D"},
        {"IProcessContextRequirements", IProcessContextRequirements::iid, "2A654303EF764E3D95B5FE83730EF6D0",
         "0343652A76EF3D4E95B5FE83730EF6D0"},
        {"IEditController", IEditController::iid, "DCD7BBE37742448DA874AACC979C759E", "E3BBD7DC42778D44A874AACC979C759E"},
        {"IComponentHandler", IComponentHandler::iid, "93A0BEA30BD045DB8E890B0CC1E46AC6", "A3BEA093D00BDB458E890B0CC1E46AC6"},
        {"IConnectionPoint", IConnectionPoint::iid, "70A4156F6E6E4026989148BFAA60D8D1", "6F15A4706E6E2640989148BFAA60D8D1"},
        {"IMessage", IMessage::iid, "936F033BC6C047DBBB0882F813C1E613", "3B036F93C0C6DB47BB0882F813C1E613"},
        {"IBStream", IBStream::iid, "C3BF6EA2309947529B6BF9901EE33E9B", "A26EBFC399305247 9B6BF9901EE33E9B"},
        {"IParameterChanges", IParameterChanges::iid, "A47796630BB64A56B44384A8466FEB9D", "639677A4B60B564AB44384A8466FEB9D"},
        {"IParamValueQueue", IParamValueQueue::iid, "01263A18ED074F6F98C9D3564686F9BA", "183A260107ED6F4F98C9D3564686F9BA"},
        {"IEventList", IEventList::iid, "3A2C4214346349FEB2C4F397B9695A44", "14422C3A6334FE49B2C4F397B9695A44"},
        {"IHostApplication", IHostApplication::iid, "58E595CCDB2D49698B6AAF8C36A664E5", "CC95E5582DDB69498B6AAF8C36A664E5"},
        {"IPlugView", IPlugView::iid, "5BC32507D06049EAA6151B522B755B29", "0725C35B60D0EA49A6151B522B755B29"},
        {"IPlugFrame", IPlugFrame::iid, "367FAF01AFA946938D4DA2A0ED0882A3", "01AF7F36A9AF93468D4DA2A0ED0882A3"},
        {"IPlugViewContentScaleSupport", IPlugViewContentScaleSupport::iid, "65ED96908AC445258AADEF7A72EA703F",
         "9096ED65C48A25458AADEF7A72EA703F"},
        {"Linux::IEventHandler", Linux::IEventHandler::iid, "561E65C913A0496F813A2C35654D7983",
         "C9651E56A0136F49813A2C35654D7983"},
        {"Linux::ITimerHandler", Linux::ITimerHandler::iid, "10BDD94F41424774821FAD8FECA72CA9",
         "4FD9BD1042417447821FAD8FECA72CA9"},
        {"Linux::IRunLoop", Linux::IRunLoop::iid, "18C3536697764F1A9C5B83857A871389", "6653C31876971A4F9C5B83857A871389"},
        {"IUnitInfo", IUnitInfo::iid, "3D4BD6B5913A4FD2A886E768A5EB92C1", "B5D64B3D3A91D24FA886E768A5EB92C1"},
    };
    for (const Published& id : ids) {
#if defined(_WIN32)
        std::string expected = id.windows;
#else
        std::string expected = id.linux;
#endif
        expected.erase(std::remove(expected.begin(), expected.end(), ' '), expected.end());
        EXPECT_EQ(hex(id.ours.bytes), expected) << id.name;
    }
}

TEST(Vst3Factory, OneAudioModuleClassWithItsVendorAndVersion) {
    IPluginFactory* f = vst3Module().factory();
    PFactoryInfo info;
    ASSERT_EQ(f->getFactoryInfo(&info), kResultOk);
    EXPECT_STREQ(info.vendor, "Brelvander");
    EXPECT_EQ(info.flags & PFactoryInfo::kUnicode, PFactoryInfo::kUnicode);
    ASSERT_EQ(f->countClasses(), 1);
    PClassInfo c;
    ASSERT_EQ(f->getClassInfo(0, &c), kResultOk);
    EXPECT_STREQ(c.category, "Audio Module Class");
    EXPECT_STREQ(c.name, "Brelvander_3-channel acoustic guit decoder MS + DI");
    EXPECT_EQ(c.cardinality, PClassInfo::kManyInstances);
    EXPECT_NE(f->getClassInfo(1, &c), kResultOk);

    void* obj = nullptr;
    ASSERT_EQ(f->queryInterface(IPluginFactory3::iid.bytes, &obj), kResultOk);
    auto* f3 = static_cast<IPluginFactory3*>(obj);
    PClassInfo2 c2;
    ASSERT_EQ(f3->getClassInfo2(0, &c2), kResultOk);
    EXPECT_STREQ(c2.subCategories, "Fx|Spatial");
    EXPECT_STREQ(c2.vendor, "Brelvander");
    EXPECT_STREQ(c2.version, "1.0.0");
    EXPECT_EQ(std::memcmp(c2.cid, c.cid, 16), 0);
    PClassInfoW cw;
    ASSERT_EQ(f3->getClassInfoUnicode(0, &cw), kResultOk);
    EXPECT_EQ(std::u16string(cw.version), u"1.0.0");
    EXPECT_EQ(std::u16string(cw.name), u"Brelvander_3-channel acoustic guit decoder MS + DI");

    char other[16] = {1, 2, 3};
    EXPECT_EQ(f->createInstance(other, IComponent::iid.bytes, &obj), kNoInterface);
    EXPECT_EQ(obj, nullptr);
    EXPECT_EQ(f->queryInterface(IComponent::iid.bytes, &obj), kNoInterface);
}

TEST(Vst3Buses, OneThreeChannelMainBusEachWayAndOnlyThreeChannelArrangements) {
    auto p = plugin();
    IComponent* c = p->component();
    EXPECT_EQ(c->getBusCount(kAudio, kInput), 1);
    EXPECT_EQ(c->getBusCount(kAudio, kOutput), 1);
    EXPECT_EQ(c->getBusCount(kEvent, kInput), 0);
    for (BusDirection dir : {kInput, kOutput}) {
        BusInfo bus;
        ASSERT_EQ(c->getBusInfo(kAudio, dir, 0, bus), kResultOk);
        EXPECT_EQ(bus.channelCount, 3);
        EXPECT_EQ(bus.busType, kMain);
        EXPECT_EQ(bus.flags & BusInfo::kDefaultActive, BusInfo::kDefaultActive);
        EXPECT_NE(c->getBusInfo(kAudio, dir, 1, bus), kResultOk);
    }
    IAudioProcessor* a = p->processor();
    struct Proposal {
        SpeakerArrangement in, out;
        bool accepted;
    };
    const Proposal proposals[] = {{SpeakerArr::k30Cine, SpeakerArr::k30Cine, true},
                                  {SpeakerArr::k30Music, SpeakerArr::k30Music, true},
                                  {SpeakerArr::k30Cine, SpeakerArr::k30Music, true},
                                  {SpeakerArr::kStereo, SpeakerArr::kStereo, false},
                                  {SpeakerArr::kMono, SpeakerArr::k30Cine, false},
                                  {SpeakerArr::k30Cine, 0x3F, false},
                                  {SpeakerArr::kEmpty, SpeakerArr::kEmpty, false}};
    for (const Proposal& proposal : proposals) {
        SpeakerArrangement in = proposal.in, out = proposal.out;
        EXPECT_EQ(a->setBusArrangements(&in, 1, &out, 1) == kResultTrue, proposal.accepted)
            << std::hex << proposal.in << " " << proposal.out;
    }
    SpeakerArrangement two[2] = {SpeakerArr::k30Cine, SpeakerArr::kMono};
    EXPECT_NE(a->setBusArrangements(two, 2, two, 1), kResultTrue);  // no auxiliary bus
    SpeakerArrangement got = 0;
    ASSERT_EQ(a->getBusArrangement(kOutput, 0, got), kResultOk);
    EXPECT_EQ(got, SpeakerArr::k30Music);  // the last one accepted
    EXPECT_EQ(a->canProcessSampleSize(kSample64), kResultTrue);
    EXPECT_EQ(a->getLatencySamples(), 0u);
    EXPECT_EQ(a->getTailSamples(), 0u);
}

TEST(Vst3Parameters, InfoTextsAndTheWayBack) {
    auto p = plugin();
    IEditController* e = p->controller();
    ASSERT_EQ(e->getParameterCount(), 16);  // the program change after the fifteen
    ParameterInfo info;
    ASSERT_EQ(e->getParameterInfo(5, info), kResultOk);
    EXPECT_EQ(info.id, 5u);
    EXPECT_EQ(std::u16string(info.title), u"DI level");
    EXPECT_EQ(std::u16string(info.units), u"dB");
    EXPECT_EQ(info.stepCount, 0);
    EXPECT_EQ(info.defaultNormalizedValue, 0.0);
    EXPECT_EQ(info.flags, ParameterInfo::kCanAutomate);
    ASSERT_EQ(e->getParameterInfo(9, info), kResultOk);
    EXPECT_EQ(std::u16string(info.title), u"active channels");
    EXPECT_EQ(info.stepCount, 2);
    EXPECT_EQ(info.flags, ParameterInfo::kCanAutomate | ParameterInfo::kIsList);
    // The DI's alignment after the decoder's eleven: a continuous delay and a switch.
    ASSERT_EQ(e->getParameterInfo(11, info), kResultOk);
    EXPECT_EQ(std::u16string(info.title), u"DI delay");
    EXPECT_EQ(std::u16string(info.units), u"ms");
    EXPECT_EQ(info.stepCount, 0);
    EXPECT_EQ(info.defaultNormalizedValue, 0.5);
    ASSERT_EQ(e->getParameterInfo(12, info), kResultOk);
    EXPECT_EQ(std::u16string(info.title), u"DI polarity");
    EXPECT_EQ(info.stepCount, 1);
    EXPECT_EQ(info.flags, ParameterInfo::kCanAutomate | ParameterInfo::kIsList);
    // The bypass after the alignment, as hosts want it for a soft bypass (the program change
    // follows, below).
    ASSERT_EQ(e->getParameterInfo(13, info), kResultOk);
    EXPECT_EQ(std::u16string(info.title), u"bypass");
    EXPECT_EQ(info.flags, ParameterInfo::kCanAutomate | ParameterInfo::kIsList | ParameterInfo::kIsBypass);
    // The DI's tone match after the bypass.
    ASSERT_EQ(e->getParameterInfo(14, info), kResultOk);
    EXPECT_EQ(std::u16string(info.title), u"DI match");
    EXPECT_EQ(std::u16string(info.units), u"%");
    EXPECT_EQ(info.defaultNormalizedValue, 0.0);
    EXPECT_NE(e->getParameterInfo(16, info), kResultOk);
    for (int32 i = 0; i < 15; ++i) {
        ASSERT_EQ(e->getParameterInfo(i, info), kResultOk);
        EXPECT_EQ(info.id, static_cast<ParamID>(i));  // stable ids, the VST 2 order
        EXPECT_TRUE(info.flags & ParameterInfo::kCanAutomate);
    }

    String128 text;
    ASSERT_EQ(e->getParamStringByValue(3, 0.75, text), kResultOk);
    EXPECT_EQ(std::u16string(text), u"60.00");
    ASSERT_EQ(e->getParamStringByValue(9, 0.5, text), kResultOk);
    EXPECT_EQ(std::u16string(text), u"MS only");
    ASSERT_EQ(e->getParamStringByValue(4, 1.0, text), kResultOk);
    EXPECT_EQ(std::u16string(text), u"swapped");
    ASSERT_EQ(e->getParamStringByValue(11, 0.575, text), kResultOk);
    EXPECT_EQ(std::u16string(text), u"1.5000");
    ParamValue v = -1;
    char16_t swapped[] = u"swapped", level[] = u"-12 dB", junk[] = u"wide";
    ASSERT_EQ(e->getParamValueByString(4, swapped, v), kResultOk);
    EXPECT_EQ(v, 1.0);
    ASSERT_EQ(e->getParamValueByString(5, level, v), kResultOk);
    EXPECT_DOUBLE_EQ(v, 138.0 / 162.0);
    EXPECT_NE(e->getParamValueByString(3, junk, v), kResultOk);
    EXPECT_DOUBLE_EQ(e->normalizedParamToPlain(3, 0.25), -60.0);
    EXPECT_DOUBLE_EQ(e->plainParamToNormalized(10, 5.0), 0.75);
    EXPECT_EQ(e->getParamNormalized(5), 0.0);
    EXPECT_EQ(e->setParamNormalized(5, 0.5), kResultOk);
    EXPECT_EQ(e->getParamNormalized(5), 0.5);
    EXPECT_EQ(e->createView("not an editor"), nullptr);
    EXPECT_EQ(e->createView(nullptr), nullptr);
    IPlugView* view = e->createView("editor");
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->release(), 0u);
}

template <class Sample>
void fill(Channels3<Sample>& io, std::uint32_t seed) {
    for (int k = 0; k < 3; ++k)
        for (auto& s : io.in[k]) {
            seed = seed * 1664525u + 1013904223u;
            s = static_cast<Sample>((static_cast<double>(seed >> 8) / 8388608.0 - 1.0) * 0.6);
        }
}

template <class Sample>
bool sameBits(const std::vector<Sample>& a, const std::vector<Sample>& b, std::size_t from = 0) {
    return a.size() == b.size() &&
           std::memcmp(a.data() + from, b.data() + from, (a.size() - from) * sizeof(Sample)) == 0;
}

// Changes at offsets 0, 1, 100, 101 and 300 of one 512-frame block act from exactly there:
// the VST 2 module given the same changes between spans gives the same bits, in place or not.
template <class Sample>
void changesActFromTheirOffsets(bool inPlace) {
    const std::vector<vst3host::Change> changes = {{0, 3, 0.25}, {1, 5, 150.0 / 162.0}, {100, 7, 1.0},
                                                   {100, 3, 0.75}, {101, 4, 1.0}, {300, 2, 130.0 / 162.0},
                                                   {300, 9, 0.5}};
    auto p = plugin();
    ASSERT_TRUE(p->start(48000.0, 512, sizeof(Sample) == sizeof(double) ? kSample64 : kSample32));
    Channels3<Sample> io(512, inPlace), reference(512);
    fill(io, 5);
    fill(reference, 5);
    tresult result = kResultFalse;
    host::runOnAnotherThread([&] { result = p->process(io.inputs, io.outputs, 512, changes); });
    ASSERT_EQ(result, kResultOk);

    Decoder vst2;
    vst2.start(48000.0f, 512);
    VstInt32 done = 0;
    auto span = [&](VstInt32 to) {
        Sample* in[3];
        Sample* out[3];
        for (int k = 0; k < 3; ++k) in[k] = reference.inputs[k] + done, out[k] = reference.outputs[k] + done;
        vst2.process(in, out, to - done);
        done = to;
    };
    for (const auto& c : changes) {
        span(c.offset);
        vst2.setParameter(static_cast<VstInt32>(c.id), static_cast<float>(c.normalized));
    }
    span(512);
    for (int k = 0; k < 3; ++k)
        EXPECT_TRUE(sameBits(inPlace ? io.in[k] : io.out[k], reference.out[k])) << "channel " << k;
    // The controller follows the values processed.
    EXPECT_EQ(p->controller()->getParamNormalized(3), 0.75);
}

TEST(Vst3Processing, ChangesActFromTheirSampleOffsetInBothPrecisions) {
    changesActFromTheirOffsets<float>(false);
    changesActFromTheirOffsets<float>(true);
    changesActFromTheirOffsets<double>(false);
    changesActFromTheirOffsets<double>(true);
}

TEST(Vst3Processing, BouncesInBlocksOf8192AndTakesAZeroFrameCallForItsChanges) {
    auto p = plugin();
    ASSERT_TRUE(p->start(44100.0, 8192, kSample32));
    Channels3<float> io(8192, true);
    fill(io, 9);
    EXPECT_EQ(p->process(io.inputs, io.outputs, 0, {{0, 3, 1.0}}), kResultOk);
    EXPECT_EQ(p->process(io.inputs, io.outputs, 8192), kResultOk);
    Decoder vst2;
    vst2.start(44100.0f, 8192);
    vst2.setParameter(3, 1.0f);
    Channels3<float> reference(8192);
    fill(reference, 9);
    vst2.process(reference.inputs, reference.outputs, 8192);
    for (int k = 0; k < 3; ++k) EXPECT_TRUE(sameBits(io.in[k], reference.out[k]));
}

// A far value in a state, one parameter at a time: held at the range's end, read back there by
// the controller, and the audio in both precisions within the loudest gain the ranges allow.
template <class Sample>
::testing::AssertionResult decodesWithinRange(vst3host::Plugin& p) {
    Channels3<Sample> io(256);
    fill(io, 11);
    if (p.process(io.inputs, io.outputs, 256) != kResultOk) return ::testing::AssertionFailure() << "process failed";
    return withinTheLoudestGain(io.inputs, io.outputs, 256);
}

TEST(Vst3State, FarValuesAreHeldAtTheRangeEndsAndNeverBlast) {
    for (std::size_t id = 0; id < decoder::kParameters.size(); ++id)
        for (float extreme : kFarValues) {
            SCOPED_TRACE(testing::Message() << decoder::kParameters[id].name << " at " << extreme);
            for (int32 sampleSize : {kSample32, kSample64}) {
                auto p = plugin();
                vst3host::MemoryStream fresh;
                ASSERT_EQ(p->component()->getState(&fresh), kResultOk);
                const auto state = stateWith(fresh.bytes, id, extreme);
                vst3host::MemoryStream forComponent(state), forController(state);
                ASSERT_EQ(p->component()->setState(&forComponent), kResultOk);
                ASSERT_EQ(p->controller()->setComponentState(&forController), kResultOk);
                EXPECT_EQ(p->controller()->getParamNormalized(static_cast<ParamID>(id)), heldAtNormalized(extreme));
                ASSERT_TRUE(p->start(48000.0, 256, sampleSize));
                if (sampleSize == kSample32)
                    EXPECT_TRUE(decodesWithinRange<float>(*p));
                else
                    EXPECT_TRUE(decodesWithinRange<double>(*p));
            }
        }
}

TEST(Vst3Processing, ChangesPastEitherEndActAsThatEnd) {
    for (ParamID id = 0; id < 11; ++id)
        for (double x : {1.5, -0.5, 1e6}) {
            auto p = plugin(), reference = plugin();
            ASSERT_TRUE(p->start(48000.0, 64, kSample32));
            ASSERT_TRUE(reference->start(48000.0, 64, kSample32));
            Channels3<float> io(64), expected(64);
            fill(io, 13);
            fill(expected, 13);
            const double end = x > 0 ? 1.0 : 0.0;
            host::runOnAnotherThread([&] {
                p->process(io.inputs, io.outputs, 64, {{0, id, x}});
                reference->process(expected.inputs, expected.outputs, 64, {{0, id, end}});
            });
            for (int k = 0; k < 3; ++k) EXPECT_TRUE(sameBits(io.out[k], expected.out[k])) << id << " at " << x;
            EXPECT_EQ(p->controller()->getParamNormalized(id), end) << id << " at " << x;
            vst3host::MemoryStream state, referenceState;
            p->component()->getState(&state);
            reference->component()->getState(&referenceState);
            EXPECT_EQ(state.bytes, referenceState.bytes) << id << " at " << x;
        }
}

TEST(Vst3State, RoundTripsThroughShortStreamsAndTheControllerFollows) {
    auto source = plugin();
    ASSERT_TRUE(source->start(48000.0, 64, kSample32));
    Channels3<float> io(8);
    source->process(io.inputs, io.outputs, 0, {{0, 3, 0.8}, {0, 9, 1.0}, {0, 5, 0.3}, {0, 4, 1.0}, {0, 11, 0.6}, {0, 12, 1.0}});
    vst3host::MemoryStream whole;
    ASSERT_EQ(source->component()->getState(&whole), kResultOk);
    EXPECT_EQ(whole.bytes.size(), 732u);  // the decoder's 260-byte chunk and the formats' block
    for (std::size_t step = 1; step <= 7; ++step) {
        SCOPED_TRACE(step);
        vst3host::MemoryStream saved({}, step);
        ASSERT_EQ(source->component()->getState(&saved), kResultOk);
        EXPECT_EQ(saved.bytes, whole.bytes);
        auto target = plugin();
        vst3host::MemoryStream forComponent(saved.bytes, step), forController(saved.bytes, step);
        ASSERT_EQ(target->component()->setState(&forComponent), kResultOk);
        ASSERT_EQ(target->controller()->setComponentState(&forController), kResultOk);
        vst3host::MemoryStream again;
        ASSERT_EQ(target->component()->getState(&again), kResultOk);
        EXPECT_EQ(again.bytes, whole.bytes);
        EXPECT_NEAR(target->controller()->getParamNormalized(3), 0.8, 1e-6);
        EXPECT_EQ(target->controller()->getParamNormalized(9), 1.0);
        EXPECT_EQ(target->controller()->getParamNormalized(4), 1.0);
        EXPECT_DOUBLE_EQ(target->controller()->getParamNormalized(11), 0.6);  // 2 ms
        EXPECT_EQ(target->controller()->getParamNormalized(12), 1.0);
        // The controller's own state is empty, and loading it changes nothing.
        vst3host::MemoryStream controllerState;
        EXPECT_EQ(target->controller()->getState(&controllerState), kResultOk);
        EXPECT_TRUE(controllerState.bytes.empty());
        EXPECT_EQ(target->controller()->setState(&controllerState), kResultOk);
        vst3host::MemoryStream unchanged;
        target->component()->getState(&unchanged);
        EXPECT_EQ(unchanged.bytes, whole.bytes);
    }
}

TEST(Vst3State, AFailedReadChangesNothing) {
    auto source = plugin();
    ASSERT_TRUE(source->start(48000.0, 64, kSample32));
    Channels3<float> io(8);
    source->process(io.inputs, io.outputs, 0, {{0, 3, 0.8}, {0, 9, 1.0}});
    vst3host::MemoryStream saved;
    ASSERT_EQ(source->component()->getState(&saved), kResultOk);

    auto target = plugin();
    vst3host::MemoryStream before;
    target->component()->getState(&before);
    for (std::size_t failAfter : {std::size_t{0}, std::size_t{4}, std::size_t{129}, std::size_t{256}}) {
        vst3host::MemoryStream failing(saved.bytes, 5, failAfter);
        EXPECT_NE(target->component()->setState(&failing), kResultOk) << failAfter;
        vst3host::MemoryStream failingToo(saved.bytes, 5, failAfter);
        EXPECT_NE(target->controller()->setComponentState(&failingToo), kResultOk);
    }
    vst3host::MemoryStream odd(std::vector<std::uint8_t>(saved.bytes.begin(), saved.bytes.begin() + 130));
    EXPECT_NE(target->component()->setState(&odd), kResultOk);
    vst3host::MemoryStream after;
    target->component()->getState(&after);
    EXPECT_EQ(after.bytes, before.bytes);
    EXPECT_EQ(target->controller()->getParamNormalized(3), 0.5);

    vst3host::MemoryStream refusing({}, 7, 100);
    EXPECT_NE(source->component()->getState(&refusing), kResultOk);
}

// Hosts may load a state while the audio thread processes: no crash, no non-finite output, and
// the state is in place afterwards (the thread sanitizer runs this in the hardening suite).
TEST(Vst3State, ArrivesWhileProcessing) {
    auto p = plugin();
    ASSERT_TRUE(p->start(48000.0, 256, kSample32));
    auto source = plugin();
    ASSERT_TRUE(source->start(48000.0, 64, kSample32));
    Channels3<float> none(8);
    source->process(none.inputs, none.outputs, 0, {{0, 3, 0.9}, {0, 5, 0.7}});
    vst3host::MemoryStream saved;
    ASSERT_EQ(source->component()->getState(&saved), kResultOk);

    std::atomic<bool> running{true};
    std::atomic<bool> finite{true};
    std::atomic<int> blocks{0};
    auto audio = [&] {
        Channels3<float> io(256);
        fill(io, 1);
        while (running.load()) {
            p->process(io.inputs, io.outputs, 256);
            for (int k = 0; k < 3; ++k)
                for (float s : io.out[k]) finite = finite && std::isfinite(s);
            ++blocks;
        }
    };
    host::Thread thread(audio);
    for (int i = 0; i < 200; ++i) {
        vst3host::MemoryStream s(saved.bytes, 1 + i % 7);
        EXPECT_EQ(p->component()->setState(&s), kResultOk);
    }
    while (blocks.load() < 10) {}
    running = false;
    thread.join();
    EXPECT_TRUE(finite.load());
    vst3host::MemoryStream now;
    p->component()->getState(&now);
    EXPECT_EQ(now.bytes, saved.bytes);
}

// The DI's alignment through the VST 3 interface: the latency follows the controller's DI delay
// and the host hears of a change through restartComponent; whole samples move exactly.
class LatencyHandler final : public IComponentHandler {
public:
    tresult PLUGIN_API queryInterface(const TUID, void** obj) override {
        *obj = nullptr;
        return kNoInterface;
    }
    uint32 PLUGIN_API addRef() override { return 1; }
    uint32 PLUGIN_API release() override { return 1; }
    tresult PLUGIN_API beginEdit(ParamID) override { return kResultOk; }
    tresult PLUGIN_API performEdit(ParamID, ParamValue) override { return kResultOk; }
    tresult PLUGIN_API endEdit(ParamID) override { return kResultOk; }
    tresult PLUGIN_API restartComponent(int32 flags) override {
        restarts.push_back(flags);
        return kResultOk;
    }
    std::vector<int32> restarts;
};

// Normalised DI delay for milliseconds: -10 .. 10 over 0 .. 1.
ParamValue delayOf(double ms) { return (ms + 10.0) / 20.0; }

TEST(Vst3Alignment, TheLatencyFollowsTheDiDelayAndTheHostIsTold) {
    auto p = plugin();
    LatencyHandler handler;
    ASSERT_EQ(p->controller()->setComponentHandler(&handler), kResultOk);
    ASSERT_TRUE(p->start(48000.0, 512, kSample32));
    EXPECT_EQ(p->processor()->getLatencySamples(), 0u);
    p->controller()->setParamNormalized(alignment::kDelay, delayOf(2.0));  // positive: no latency
    EXPECT_TRUE(handler.restarts.empty());
    p->controller()->setParamNormalized(alignment::kDelay, delayOf(-1.0));
    ASSERT_EQ(handler.restarts.size(), 1u);
    EXPECT_EQ(handler.restarts[0], IComponentHandler::kLatencyChanged);
    EXPECT_EQ(p->processor()->getLatencySamples(), 48u);
    p->controller()->setParamNormalized(alignment::kPolarity, 1.0);  // the same latency: nothing to tell
    EXPECT_EQ(handler.restarts.size(), 1u);
    p->controller()->setParamNormalized(alignment::kDelay, delayOf(-1.0101));  // 48.48 samples and the kernel's 31
    EXPECT_EQ(p->processor()->getLatencySamples(), 49u + 31u);
    EXPECT_EQ(handler.restarts.size(), 2u);
    // A state with no alignment ends the latency.
    std::vector<std::uint8_t> chunkOnly;
    {
        auto fresh = plugin();
        vst3host::MemoryStream s;
        ASSERT_EQ(fresh->component()->getState(&s), kResultOk);
        chunkOnly.assign(s.bytes.begin(), s.bytes.begin() + 260);
    }
    // The host asks at once; it is told with the next edit, not from inside the state's load,
    // where some hosts hold a lock that restartComponent takes again.
    vst3host::MemoryStream old(chunkOnly);
    ASSERT_EQ(p->component()->setState(&old), kResultOk);
    EXPECT_EQ(p->processor()->getLatencySamples(), 0u);
    EXPECT_EQ(handler.restarts.size(), 2u);
    EXPECT_EQ(p->controller()->getParamNormalized(alignment::kDelay), 0.5);
    p->controller()->setParamNormalized(alignment::kPolarity, 0.0);  // the value it has: an echo
    EXPECT_EQ(handler.restarts.size(), 2u);
    p->controller()->setParamNormalized(alignment::kPolarity, 1.0);
    ASSERT_EQ(handler.restarts.size(), 3u);
    EXPECT_EQ(handler.restarts[2], IComponentHandler::kLatencyChanged);
    p->controller()->setComponentHandler(nullptr);
}

template <class Sample>
alignment::Channels<Sample> vst3Decoded(const alignment::Channels<Sample>& in, double ms, bool invert) {
    auto p = plugin();
    p->start(48000.0, 512, sizeof(Sample) == 4 ? kSample32 : kSample64);
    alignment::Channels<Sample> out;
    for (auto& c : out) c.assign(in[0].size(), Sample(0));
    const std::vector<vst3host::Change> settings = {{0, alignment::kDiLevel, 150.0 / 162.0},
                                                    {0, alignment::kDiRouting, 1.0},
                                                    {0, alignment::kDelay, delayOf(ms)},
                                                    {0, alignment::kPolarity, invert ? 1.0 : 0.0}};
    host::runOnAnotherThread([&] {
        for (std::size_t at = 0; at < in[0].size(); at += 512) {
            const auto n = static_cast<int32>(std::min<std::size_t>(512, in[0].size() - at));
            Sample* i[] = {const_cast<Sample*>(in[0].data()) + at, const_cast<Sample*>(in[1].data()) + at,
                           const_cast<Sample*>(in[2].data()) + at};
            Sample* o[] = {out[0].data() + at, out[1].data() + at, out[2].data() + at};
            p->process(i, o, n, at == 0 ? settings : std::vector<vst3host::Change>{});
        }
    });
    return out;
}

template <class Sample>
void vst3WholeSamples() {
    const auto in = alignment::Take().channels<Sample>(3000);
    for (const auto& [ms, shift, invert] : {std::tuple{1.0, 48, false}, {0.25, 12, true}, {-0.5, -24, true}}) {
        SCOPED_TRACE(testing::Message() << ms << " ms");
        const auto aligned = vst3Decoded(in, ms, invert);
        const std::ptrdiff_t latency = std::max(0, -shift);
        const auto expected = vst3Decoded(alignment::movedByHand(in, latency, shift + latency, invert), 0.0, false);
        // The settings arrive with the first block after activation: taken at once, no crossfade.
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(0, std::memcmp(aligned[k].data(), expected[k].data(), aligned[k].size() * sizeof(Sample)))
                << "output " << k + 1;
    }
}

TEST(Vst3Alignment, WholeSamplesMoveTheDiExactlyInBothPrecisions) {
    vst3WholeSamples<float>();
    vst3WholeSamples<double>();
}

// A fraction, either way: within the whole kernel's accuracy (-90 dB of full scale) of the DI
// heard that much later, the output advanced by the latency the plug-in reports.
TEST(Vst3Alignment, FractionsAreWithinTheKernelsAccuracyOfTheDiHeardThatMuchLater) {
    const alignment::Take take;
    const auto in = take.channels<double>(5000);
    for (const double ms : {1.5125, -0.7001}) {
        SCOPED_TRACE(ms);
        const auto out = vst3Decoded(in, ms, false);
        auto p = plugin();
        p->controller()->setParamNormalized(alignment::kDelay, delayOf(ms));
        const auto latency = static_cast<std::size_t>(p->processor()->getLatencySamples());
        EXPECT_EQ(latency, ms < 0 ? 34u + 31u : 0u);
        EXPECT_LT(alignment::worstDiError(take, out[2], ms * 48, latency), std::pow(10.0, -90.0 / 20.0));
    }
}

TEST(Vst3Bypass, BypassedTheInputsPassBitForBit) {
    auto p = plugin();
    ASSERT_TRUE(p->start(48000.0, 512, kSample32));
    Channels3<float> io(512);
    for (int k = 0; k < 3; ++k)
        for (std::size_t j = 0; j < 512; ++j) io.in[k][j] = 0.3f * static_cast<float>(std::sin(0.05 * j * (k + 1)));
    host::runOnAnotherThread([&] { p->process(io.inputs, io.outputs, 512, {{0, 13, 1.0}, {0, 3, 0.9}}); });
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(0, std::memcmp(io.out[k].data(), io.in[k].data(), 512 * sizeof(float))) << "channel " << k;
}

// Bypassed with a negative DI delay, the plug-in reports a latency the host makes up for: the
// three inputs come out delayed by exactly it, bit for bit, so the bypassed track stays in time.
TEST(Vst3Bypass, WithALatencyReportedTheInputsPassDelayedByIt) {
    auto p = plugin();
    p->controller()->setParamNormalized(alignment::kDelay, delayOf(-2.3));  // as a session loads
    p->controller()->setParamNormalized(13, 1.0);
    ASSERT_TRUE(p->start(48000.0, 512, kSample32));
    const alignment::Take take;
    const auto in = take.channels<float>(4 * 512);
    alignment::Channels<float> out;
    for (auto& c : out) c.assign(in[0].size(), 1.0f);
    host::runOnAnotherThread([&] {
        for (std::size_t at = 0; at < in[0].size(); at += 512) {
            Channels3<float> io(512);
            for (int k = 0; k < 3; ++k) std::copy(in[k].begin() + at, in[k].begin() + at + 512, io.in[k].begin());
            p->process(io.inputs, io.outputs, 512);
            for (int k = 0; k < 3; ++k) std::copy(io.out[k].begin(), io.out[k].begin() + 512, out[k].begin() + at);
        }
    });
    const auto latency = p->processor()->getLatencySamples();
    EXPECT_EQ(latency, 111u + 31u);  // 110.4 samples, and the kernel's 31
    const auto want = alignment::movedByHand(in, latency, latency, false);
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(0, std::memcmp(out[k].data(), want[k].data(), out[k].size() * sizeof(float))) << "channel " << k;
}

// Silence flags: an output whose every sample is zero is flagged so; three silent inputs,
// with nothing kept from earlier ones, flag every output without changing a bit of them; and a
// DI delayed past the silence still sounds, and is not flagged.
TEST(Vst3Silence, OutputsAreFlaggedWhereSilentAndSilentInputsAreHonoured) {
    auto p = plugin();
    ASSERT_TRUE(p->start(48000.0, 512, kSample32));
    Channels3<float> io(512);
    for (int k = 0; k < 3; ++k)
        for (std::size_t j = 0; j < 512; ++j) io.in[k][j] = 0.3f * static_cast<float>(std::sin(0.05 * j * (k + 1)));
    // By default the DI goes into the pair: output 3 is silent.
    host::runOnAnotherThread([&] { p->process(io.inputs, io.outputs, 512); });
    EXPECT_EQ(p->outputSilence, 0b100u);

    // Silent inputs, flagged or not: every output flagged, the same bits either way, for settings
    // across the ranges (zeros stay zeros, whatever their sign).
    std::mt19937 rng(4);
    for (int round = 0; round < 20; ++round) {
        std::vector<vst3host::Change> settings;
        for (ParamID id = 0; id < 11; ++id) settings.push_back({0, id, std::uniform_real_distribution<double>(0, 1)(rng)});
        Channels3<float> flagged(256), plain(256);
        for (int k = 0; k < 3; ++k)
            for (std::size_t j = 0; j < 256; ++j) flagged.in[k][j] = plain.in[k][j] = (j + k) % 3 == 0 ? -0.0f : 0.0f;
        auto a = plugin(), b = plugin();
        a->start(48000.0, 256, kSample32), b->start(48000.0, 256, kSample32);
        a->inputSilence = 0b111;
        host::runOnAnotherThread([&] {
            a->process(flagged.inputs, flagged.outputs, 256, settings);
            b->process(plain.inputs, plain.outputs, 256, settings);
        });
        EXPECT_EQ(a->outputSilence, 0b111u);
        EXPECT_EQ(b->outputSilence, 0b111u);
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(0, std::memcmp(flagged.out[k].data(), plain.out[k].data(), 256 * sizeof(float))) << round << " " << k;
    }

    // The DI alone on output 3, delayed 2 ms: a silent block after signal still carries its tail.
    auto d = plugin();
    d->start(48000.0, 512, kSample32);
    const std::vector<vst3host::Change> delayed = {{0, 5, 150.0 / 162}, {0, 7, 1.0}, {0, 11, (2.0 + 10) / 20}};
    Channels3<float> quiet(512);
    d->inputSilence = 0;
    host::runOnAnotherThread([&] { d->process(io.inputs, io.outputs, 512, delayed); });
    d->inputSilence = 0b111;
    host::runOnAnotherThread([&] { d->process(quiet.inputs, quiet.outputs, 512); });
    EXPECT_EQ(d->outputSilence & 0b100u, 0u);
    EXPECT_NE(quiet.out[2][10], 0.0f);
}

}  // namespace

// The factory presets as the host's program list: one root unit with one list, chosen through a
// program-change parameter after every other one.
namespace presets {

constexpr ParamID kProgram = 100;
constexpr int32 kCount = static_cast<int32>(vintrel::kFactoryPresets.size());

IUnitInfo* unitInfo(vst3host::Plugin& p) {
    void* object = nullptr;
    if (p.controller()->queryInterface(IUnitInfo::iid.bytes, &object) != kResultOk) return nullptr;
    auto* info = static_cast<IUnitInfo*>(object);
    info->release();  // the plug-in keeps its own reference
    return info;
}

// A host's component handler that records every call in order: "b5" begin, "p5" perform,
// "e5" end, "r4" restart.
class RecordingHandler final : public IComponentHandler {
public:
    tresult PLUGIN_API queryInterface(const TUID, void** obj) override {
        *obj = nullptr;
        return kNoInterface;
    }
    uint32 PLUGIN_API addRef() override { return 1; }
    uint32 PLUGIN_API release() override { return 1; }
    tresult PLUGIN_API beginEdit(ParamID id) override { return note("b", id); }
    tresult PLUGIN_API performEdit(ParamID id, ParamValue v) override {
        performed.emplace_back(id, v);
        return note("p", id);
    }
    tresult PLUGIN_API endEdit(ParamID id) override { return note("e", id); }
    tresult PLUGIN_API restartComponent(int32 flags) override { return note("r", static_cast<ParamID>(flags)); }
    tresult note(const char* kind, ParamID id) {
        calls.push_back(kind + std::to_string(id));
        return kResultOk;
    }
    std::vector<std::string> calls;
    std::vector<std::pair<ParamID, ParamValue>> performed;
};

std::vector<std::uint8_t> stateOf(vst3host::Plugin& p) {
    vst3host::MemoryStream s;
    EXPECT_EQ(p.component()->getState(&s), kResultOk);
    return s.bytes;
}

}  // namespace presets

TEST(Vst3Presets, OneRootUnitWithTheFactoryPresetsAsItsProgramList) {
    auto p = plugin();
    IUnitInfo* units = presets::unitInfo(*p);
    ASSERT_NE(units, nullptr);
    EXPECT_EQ(units->getUnitCount(), 1);
    UnitInfo unit;
    ASSERT_EQ(units->getUnitInfo(0, unit), kResultOk);
    EXPECT_EQ(unit.id, kRootUnitId);
    EXPECT_EQ(unit.parentUnitId, kNoParentUnitId);
    EXPECT_NE(unit.programListId, kNoProgramListId);
    EXPECT_NE(units->getUnitInfo(1, unit), kResultOk);
    ASSERT_EQ(units->getProgramListCount(), 1);
    ProgramListInfo list;
    ASSERT_EQ(units->getProgramListInfo(0, list), kResultOk);
    EXPECT_EQ(list.id, unit.programListId);
    EXPECT_EQ(std::u16string(list.name), u"Factory presets");
    EXPECT_EQ(list.programCount, presets::kCount);
    // Every program has its name, in the table's order; none past the end.
    String128 name;
    for (int32 i = 0; i < presets::kCount; ++i) {
        ASSERT_EQ(units->getProgramName(list.id, i, name), kResultOk) << i;
        const std::string expected = vintrel::kFactoryPresets[static_cast<std::size_t>(i)].name;
        EXPECT_EQ(std::u16string(name), std::u16string(expected.begin(), expected.end()));
    }
    EXPECT_NE(units->getProgramName(list.id, presets::kCount, name), kResultOk);
    EXPECT_NE(units->getProgramName(list.id + 1, 0, name), kResultOk);
    EXPECT_NE(units->getProgramInfo(list.id, 0, "Name", name), kResultOk);  // no attributes
    EXPECT_NE(units->hasProgramPitchNames(list.id, 0), kResultOk);
    EXPECT_EQ(units->getSelectedUnit(), kRootUnitId);
    UnitID byBus = -5;
    EXPECT_EQ(units->getUnitByBus(kAudio, kInput, 0, 2, byBus), kResultOk);
    EXPECT_EQ(byBus, kRootUnitId);

    // The program change comes after every other parameter, with an id of its own; the
    // parameters before it keep their ids.
    IEditController* e = p->controller();
    ParameterInfo info;
    for (int32 i = 0; i < 15; ++i) {
        ASSERT_EQ(e->getParameterInfo(i, info), kResultOk);
        EXPECT_EQ(info.id, static_cast<ParamID>(i));
    }
    ASSERT_EQ(e->getParameterInfo(15, info), kResultOk);
    EXPECT_EQ(info.id, presets::kProgram);
    EXPECT_EQ(info.flags & (ParameterInfo::kIsProgramChange | ParameterInfo::kIsList),
              ParameterInfo::kIsProgramChange | ParameterInfo::kIsList);
    EXPECT_EQ(info.stepCount, presets::kCount - 1);  // hosts send program k as k / stepCount
    EXPECT_EQ(info.unitId, kRootUnitId);
    EXPECT_NE(e->getParameterInfo(16, info), kResultOk);
    TChar text[128];
    ASSERT_EQ(e->getParamStringByValue(presets::kProgram, 2.0 / 8, text), kResultOk);
    EXPECT_EQ(std::u16string(text), u"Narrow (mono-safe)");
    ParamValue value = -1;
    std::u16string typed = u"mics only";
    ASSERT_EQ(e->getParamValueByString(presets::kProgram, typed.data(), value), kResultOk);
    EXPECT_DOUBLE_EQ(value, 6.0 / 8);
    EXPECT_DOUBLE_EQ(e->normalizedParamToPlain(presets::kProgram, 6.0 / 8), 6.0);
    EXPECT_DOUBLE_EQ(e->plainParamToNormalized(presets::kProgram, 6.0), 6.0 / 8);
}

// A program chosen by the host reaches both sides: the controller moves every control the
// preset changes and tells the host as edits (no restart that asks for every value), and the
// processor, hearing the program, holds exactly the preset's state.
TEST(Vst3Presets, ChoosingAProgramGivesThePresetsStateOnBothSides) {
    for (int32 k = 0; k < presets::kCount; ++k) {
        const vintrel::FactoryPreset& preset = vintrel::kFactoryPresets[static_cast<std::size_t>(k)];
        SCOPED_TRACE(preset.name);
        auto p = plugin();
        presets::RecordingHandler handler;
        ASSERT_EQ(p->controller()->setComponentHandler(&handler), kResultOk);
        ASSERT_TRUE(p->start(48000.0, 64, kSample32));
        // Somewhere else first: a width, a delay, an inversion.
        Channels3<float> io(16);
        p->process(io.inputs, io.outputs, 16, {{0, 3, 0.9}, {0, 11, 0.55}, {0, 12, 1.0}});
        p->controller()->setParamNormalized(3, 0.9);
        p->controller()->setParamNormalized(11, 0.55);
        p->controller()->setParamNormalized(12, 1.0);
        handler.calls.clear();

        const ParamValue program = static_cast<ParamValue>(k) / (presets::kCount - 1);
        ASSERT_EQ(p->controller()->setParamNormalized(presets::kProgram, program), kResultOk);
        EXPECT_DOUBLE_EQ(p->controller()->getParamNormalized(presets::kProgram), program);
        const auto targets = vintrel::presetTargets(preset);
        for (std::size_t i = 0; i < targets.size(); ++i) {
            const auto id = static_cast<ParamID>(i);
            EXPECT_DOUBLE_EQ(p->controller()->normalizedParamToPlain(id, p->controller()->getParamNormalized(id)), targets[i])
                << "parameter " << i;
        }
        // Each changed parameter is one begin, perform and end, the gestures overlapping.
        for (const ParamID id : {3u, 11u, 12u}) {
            const auto at = [&](const std::string& call) {
                return std::find(handler.calls.begin(), handler.calls.end(), call) - handler.calls.begin();
            };
            const std::string n = std::to_string(id);
            ASSERT_LT(at("p" + n), static_cast<std::ptrdiff_t>(handler.calls.size())) << handler.calls.size();
            EXPECT_LT(at("b" + n), at("p" + n));
            EXPECT_LT(at("p" + n), at("e" + n));
        }
        EXPECT_EQ(std::count(handler.calls.begin(), handler.calls.end(), "r" + std::to_string(IComponentHandler::kParamValuesChanged)), 0);

        p->process(io.inputs, io.outputs, 16, {{5, presets::kProgram, program}});
        EXPECT_EQ(settingsIn(presets::stateOf(*p)), settingsIn(vintrel::EmbeddedDecoder::stateOf(preset)));

        // Saved and reopened: the same values, and the program the same preset.
        auto reopened = plugin();
        vst3host::MemoryStream forComponent(presets::stateOf(*p)), forController(presets::stateOf(*p));
        ASSERT_EQ(reopened->component()->setState(&forComponent), kResultOk);
        ASSERT_EQ(reopened->controller()->setComponentState(&forController), kResultOk);
        EXPECT_DOUBLE_EQ(reopened->controller()->getParamNormalized(presets::kProgram), program);
        EXPECT_EQ(settingsIn(presets::stateOf(*reopened)), settingsIn(vintrel::EmbeddedDecoder::stateOf(preset)));
        p->controller()->setComponentHandler(nullptr);
    }
}

// The program acts from its sample offset, as the changes of each of its parameters would, and
// a bypass the host set stays as it was.
TEST(Vst3Presets, AProgramActsFromItsOffsetAsItsParametersWouldAndKeepsTheBypass) {
    const vintrel::FactoryPreset& preset = vintrel::kFactoryPresets[4];  // the DI on output 3
    const auto targets = vintrel::presetTargets(preset);
    auto byProgram = plugin(), byParameters = plugin();
    std::vector<vst3host::Change> each;
    for (std::size_t i = 0; i < targets.size(); ++i)
        each.push_back({37, static_cast<ParamID>(i), byParameters->controller()->plainParamToNormalized(static_cast<ParamID>(i), targets[i])});
    Channels3<float> a(256), b(256);
    for (std::size_t j = 0; j < 256; ++j)
        for (int k = 0; k < 3; ++k) a.in[k][j] = b.in[k][j] = static_cast<float>(std::sin(0.05 * static_cast<double>(j) * (k + 1)));
    ASSERT_TRUE(byProgram->start(48000.0, 256, kSample32));
    ASSERT_TRUE(byParameters->start(48000.0, 256, kSample32));
    byProgram->process(a.inputs, a.outputs, 256, {{0, 3, 0.2}, {0, 5, 0.8}, {37, presets::kProgram, 4.0 / 8}});
    std::vector<vst3host::Change> before = {{0, 3, 0.2}, {0, 5, 0.8}};
    before.insert(before.end(), each.begin(), each.end());
    byParameters->process(b.inputs, b.outputs, 256, before);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(a.out[k], b.out[k]) << "output " << k + 1;
    EXPECT_NE(a.out[0][10], a.out[0][200]);  // heard: the settings before and after differ

    auto bypassed = plugin();
    ASSERT_TRUE(bypassed->start(48000.0, 256, kSample32));
    bypassed->process(a.inputs, a.outputs, 16, {{0, vintrel::kBypass, 1.0}, {8, presets::kProgram, 1.0 / 8}});
    EXPECT_EQ(settingsIn(presets::stateOf(*bypassed)), settingsIn(vintrel::EmbeddedDecoder::stateOf(vintrel::kFactoryPresets[1], true)));
}

// An edit after a program: the state holds the edit, and the program no longer claims a preset
// whose values the controls do not show.
TEST(Vst3Presets, AnEditAfterAProgramIsKeptAndReopensAsItWas) {
    auto p = plugin();
    ASSERT_EQ(p->controller()->setParamNormalized(presets::kProgram, 1.0 / 8), kResultOk);
    Channels3<float> io(16);
    ASSERT_TRUE(p->start(48000.0, 64, kSample32));
    p->process(io.inputs, io.outputs, 16, {{0, presets::kProgram, 1.0 / 8}, {4, 0, 0.75}});
    p->controller()->setParamNormalized(0, 0.75);
    const auto saved = presets::stateOf(*p);
    EXPECT_NE(saved, vintrel::EmbeddedDecoder::stateOf(vintrel::kFactoryPresets[1]));
    auto reopened = plugin();
    vst3host::MemoryStream forComponent(saved), forController(saved);
    ASSERT_EQ(reopened->component()->setState(&forComponent), kResultOk);
    ASSERT_EQ(reopened->controller()->setComponentState(&forController), kResultOk);
    EXPECT_EQ(presets::stateOf(*reopened), saved);
    EXPECT_DOUBLE_EQ(reopened->controller()->getParamNormalized(0), 0.75);
    EXPECT_DOUBLE_EQ(reopened->controller()->getParamNormalized(3), p->controller()->getParamNormalized(3));
}

template <class Sample>
void vst3LetsNoSubnormalOut() {
    auto p = plugin();
    ASSERT_TRUE(p->start(48000.0, 512, sizeof(Sample) == 4 ? kSample32 : kSample64));
    // Output trim at its bottom, the DI on output 3 at its -150 dB default.
    const std::vector<vst3host::Change> settings = {{0, 2, 0.0}, {0, 7, 1.0}};
    for (const Sample scale : {std::numeric_limits<Sample>::min() / 4, std::numeric_limits<Sample>::min() * 9}) {
        Channels3<Sample> io(512);
        for (int k = 0; k < 3; ++k)
            for (std::size_t j = 0; j < 512; ++j) io.in[k][j] = scale * static_cast<Sample>(std::sin(0.07 * static_cast<double>(j) * (k + 1)));
        p->process(io.inputs, io.outputs, 512, settings);
        for (int k = 0; k < 3; ++k)
            for (const Sample s : io.out[k]) ASSERT_FALSE(s != 0 && std::fabs(s) < std::numeric_limits<Sample>::min()) << "output " << k + 1;
    }
}

TEST(Vst3Processing, NoSubnormalNumberLeavesInEitherPrecision) {
    vst3LetsNoSubnormalOut<float>();
    vst3LetsNoSubnormalOut<double>();
}

// An edit made while nothing processes is in the state the host saves next: no processing call
// would carry it to the processor first. While processing, the processor hears it at its
// sample offset, as ever.
TEST(Vst3State, AnEditMadeWhileNothingProcessesIsInTheNextState) {
    auto p = plugin();
    ASSERT_EQ(p->controller()->setParamNormalized(3, 0.8), kResultOk);
    ASSERT_EQ(p->controller()->setParamNormalized(11, 0.6), kResultOk);
    auto reopened = plugin();
    vst3host::MemoryStream saved;
    ASSERT_EQ(p->component()->getState(&saved), kResultOk);
    vst3host::MemoryStream forController(saved.bytes);
    ASSERT_EQ(reopened->controller()->setComponentState(&forController), kResultOk);
    EXPECT_NEAR(reopened->controller()->getParamNormalized(3), 0.8, 1e-6);
    EXPECT_DOUBLE_EQ(reopened->controller()->getParamNormalized(11), 0.6);
    // A program chosen while nothing processes: the preset's state.
    ASSERT_EQ(p->controller()->setParamNormalized(100, 6.0 / 8), kResultOk);
    vst3host::MemoryStream preset;
    ASSERT_EQ(p->component()->getState(&preset), kResultOk);
    EXPECT_EQ(settingsIn(preset.bytes), settingsIn(vintrel::EmbeddedDecoder::stateOf(vintrel::kFactoryPresets[6])));
    // Processing: the controller's value waits for the processing call that carries it.
    ASSERT_TRUE(p->start(48000.0, 64, kSample32));
    ASSERT_EQ(p->controller()->setParamNormalized(3, 0.1), kResultOk);
    vst3host::MemoryStream before;
    ASSERT_EQ(p->component()->getState(&before), kResultOk);
    EXPECT_EQ(before.bytes, preset.bytes);
    Channels3<float> io(16);
    p->process(io.inputs, io.outputs, 16, {{3, 3, 0.1}});
    vst3host::MemoryStream after;
    ASSERT_EQ(p->component()->getState(&after), kResultOk);
    EXPECT_NE(after.bytes, preset.bytes);
}
