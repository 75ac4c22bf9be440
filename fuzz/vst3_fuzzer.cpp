// The VST 3 entry points driven by arbitrary bytes: arrangements of any kind, parameter
// changes with any id, value and offset, texts both ways, and states from streams of any size,
// content and failure, with blocks in both precisions between. Nothing may crash, and finite
// input must decode to finite output.
#include <cmath>
#include <cstring>
#include <vector>

#include "fuzz_bytes.h"
#include "fuzz_channels.h"
#include "host/vst3_host.h"
#include "vst3/vst3_api.h"

using namespace vst3;

extern "C" IPluginFactory* PLUGIN_API GetPluginFactory();

using fuzzhost::Bytes;

namespace {

class Queues final : public IParameterChanges {
public:
    tresult PLUGIN_API queryInterface(const TUID, void** obj) override { return *obj = nullptr, kNoInterface; }
    uint32 PLUGIN_API addRef() override { return 1; }
    uint32 PLUGIN_API release() override { return 1; }
    int32 PLUGIN_API getParameterCount() override { return static_cast<int32>(queues.size()); }
    IParamValueQueue* PLUGIN_API getParameterData(int32 i) override {
        return i >= 0 && i < getParameterCount() ? &queues[static_cast<std::size_t>(i)] : nullptr;
    }
    IParamValueQueue* PLUGIN_API addParameterData(const ParamID&, int32&) override { return nullptr; }
    std::vector<vst3host::Queue> queues;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    IPluginFactory* factory = GetPluginFactory();
    PClassInfo info;
    factory->getClassInfo(0, &info);
    void* object = nullptr;
    if (factory->createInstance(info.cid, IComponent::iid.bytes, &object) != kResultOk) __builtin_trap();
    auto* component = static_cast<IComponent*>(object);
    component->queryInterface(IAudioProcessor::iid.bytes, &object);
    auto* processor = static_cast<IAudioProcessor*>(object);
    component->queryInterface(IEditController::iid.bytes, &object);
    auto* controller = static_cast<IEditController*>(object);
    component->initialize(nullptr);
    controller->initialize(nullptr);
    ProcessSetup setup{kRealtime, kSample32, 256, 48000.0};
    processor->setupProcessing(setup);
    component->setActive(1);

    Bytes in{data, size};
    while (in.size > 0) {
        switch (in.take<std::uint8_t>() % 6) {
            case 0: {
                SpeakerArrangement a[2] = {in.take<std::uint64_t>(), in.take<std::uint64_t>()};
                processor->setBusArrangements(a, in.take<std::uint8_t>() % 3, a + 1, in.take<std::uint8_t>() % 3);
                break;
            }
            case 1: {  // a block with changes in any order, in either precision
                Queues changes;
                for (int q = in.take<std::uint8_t>() % 5; q > 0; --q) {
                    vst3host::Queue queue(in.take<std::uint8_t>() % 16);
                    for (int p = in.take<std::uint8_t>() % 5; p > 0; --p)
                        queue.points.emplace_back(static_cast<int8_t>(in.take<std::uint8_t>()) * 3, in.take<double>());
                    changes.queues.push_back(queue);
                }
                const int32 frames = in.take<std::uint8_t>();
                const bool doubles = in.take<std::uint8_t>() & 1;
                fuzzhost::InPlaceChannels io(static_cast<std::size_t>(frames), 0.3f, -0.4);
                AudioBusBuffers bus{};
                bus.numChannels = in.take<std::uint8_t>() % 8 == 0 ? 2 : 3;
                if (doubles)
                    bus.channelBuffers64 = io.dp;
                else
                    bus.channelBuffers32 = io.fp;
                ProcessData call{};
                call.symbolicSampleSize = doubles ? kSample64 : kSample32;
                call.numSamples = frames;
                call.numInputs = call.numOutputs = 1;
                call.inputs = call.outputs = &bus;  // in place
                call.inputParameterChanges = &changes;
                processor->process(call);
                io.requireFinite(doubles, static_cast<std::size_t>(frames));
                break;
            }
            case 2: {  // texts both ways
                const ParamID id = in.take<std::uint8_t>() % 16;
                String128 text;
                controller->getParamStringByValue(id, in.take<double>(), text);
                char16_t typed[12] = {};
                for (int i = 0; i < 11 && in.size > 0; ++i) typed[i] = static_cast<char16_t>(in.take<std::uint8_t>());
                ParamValue v;
                controller->getParamValueByString(id, typed, v);
                controller->setParamNormalized(id, in.take<double>());
                break;
            }
            case 3: {  // a state from the rest of the bytes, in steps of any size, maybe failing
                const std::size_t step = 1 + in.take<std::uint8_t>() % 9;
                const std::size_t failAfter = in.take<std::uint8_t>() % 2 ? SIZE_MAX : in.take<std::uint16_t>() % 300;
                const std::size_t n = in.size < 300 ? in.size : 300;
                std::vector<std::uint8_t> bytes(in.data, in.data + n);
                in.data += n, in.size -= n;
                vst3host::MemoryStream forComponent(bytes, step, failAfter), forController(bytes, step, failAfter);
                component->setState(&forComponent);
                controller->setComponentState(&forController);
                break;
            }
            case 4: {
                vst3host::MemoryStream out({}, 1 + in.take<std::uint8_t>() % 9, in.take<std::uint16_t>() % 400);
                component->getState(&out);
                break;
            }
            default:
                component->setActive(in.take<std::uint8_t>() & 1);
                break;
        }
    }
    component->setActive(0);
    controller->terminate();
    component->terminate();
    controller->release();
    processor->release();
    component->release();
    return 0;
}
