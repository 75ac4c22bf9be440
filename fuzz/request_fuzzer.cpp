// Decodes its input into a session of host requests against one instance: any opcode with
// any index and value (real places where the interface promises them, null pointers too),
// parameters with any index and float, processing in both precisions, in place or not,
// state saves and loads of arbitrary bytes, MIDI lists, transport changes; then effClose.
#include <fuzzer/FuzzedDataProvider.h>

#include "effect/guitar_decoder.h"
#include "entry/bridge_ops.h"
#include "fuzz_host.h"

namespace {

constexpr VstInt32 kMaxFrames = 300;

template <class Sample>
void process(AEffect* e, FuzzedDataProvider& in) {
    const VstInt32 frames = in.ConsumeIntegralInRange<VstInt32>(-4, kMaxFrames);
    const bool inPlace = in.ConsumeBool();
    std::vector<Sample> input[3], output[3];
    Sample* inputs[3];
    Sample* outputs[3];
    const auto stored = static_cast<std::size_t>(frames > 0 ? frames : 0);
    for (int k = 0; k < 3; ++k) {
        input[k].resize(stored);
        for (Sample& v : input[k]) {
            if (in.ConsumeBool())
                v = in.ConsumeFloatingPoint<Sample>();
            else
                v = static_cast<Sample>(in.ConsumeIntegralInRange<int>(-1000, 1000)) / 1000;
        }
        output[k].assign(stored, Sample(0));
        inputs[k] = input[k].data();
        outputs[k] = inPlace ? input[k].data() : output[k].data();
    }
    if constexpr (sizeof(Sample) == sizeof(float)) {
        e->processReplacing(e, inputs, outputs, frames);
    } else {
        e->processDoubleReplacing(e, inputs, outputs, frames);
        fuzzhost::requireFinite(outputs, 3, frames);
    }
}

void dispatch(AEffect* e, FuzzedDataProvider& in) {
    VstInt32 opcode = in.ConsumeIntegralInRange<VstInt32>(-2, 90);
    if (opcode == effClose) opcode = effOpen;
    const auto index = in.ConsumeIntegral<VstInt32>();
    VstIntPtr value = in.ConsumeIntegral<VstIntPtr>();
    const float opt = in.ConsumeFloatingPoint<float>();
    const bool nullPointer = in.ConsumeIntegralInRange<int>(0, 7) == 0;
    void* place = nullptr;
    switch (opcode) {
        case effGetChunk: {
            e->dispatcher(e, opcode, index, value, nullPointer ? nullptr : &place, opt);
            return;
        }
        case effSetChunk: {
            std::vector<std::uint8_t> bytes = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<int>(0, 400));
            e->dispatcher(e, opcode, index, static_cast<VstIntPtr>(bytes.size()),
                          nullPointer || bytes.empty() ? nullptr : bytes.data(), opt);
            return;
        }
        case effGetSpeakerArrangement: {
            void* inputPlace = &place;
            e->dispatcher(e, opcode, index, in.ConsumeBool() ? reinterpret_cast<VstIntPtr>(&inputPlace) : 0,
                          nullPointer ? nullptr : &place, opt);
            return;
        }
        case effProcessEvents: {
            const int count = in.ConsumeIntegralInRange<int>(0, 1200);
            std::vector<VstMidiEvent> events(static_cast<std::size_t>(count));
            std::vector<char> list(sizeof(VstEvents) + sizeof(VstEvent*) * static_cast<std::size_t>(count));
            auto* header = reinterpret_cast<VstEvents*>(list.data());
            auto** slots = reinterpret_cast<VstEvent**>(list.data() + offsetof(VstEvents, events));
            header->numEvents = count;
            for (int i = 0; i < count; ++i) {
                events[static_cast<std::size_t>(i)].type =
                    in.ConsumeBool() ? kVstMidiType : in.ConsumeIntegral<VstInt32>();
                events[static_cast<std::size_t>(i)].deltaFrames = i;
                slots[i] = in.ConsumeIntegralInRange<int>(0, 15) == 0
                               ? nullptr
                               : reinterpret_cast<VstEvent*>(&events[static_cast<std::size_t>(i)]);
            }
            e->dispatcher(e, opcode, index, value, nullPointer ? nullptr : header, opt);
            return;
        }
        default: break;
    }
    // Everything else gets a text buffer of exactly the size it may fill, holding a text.
    const std::size_t capacity = fuzzhost::textCapacity(opcode);
    std::string text = in.ConsumeRandomLengthString(capacity - 1);
    std::unique_ptr<char[]> buffer(new char[capacity]);
    std::memcpy(buffer.get(), text.c_str(), text.size() + 1);
    if (opcode == effSetSampleRate || opcode == effSetBlockSize || opcode == effMainsChanged)
        value = in.ConsumeIntegral<VstInt32>();
    e->dispatcher(e, opcode, index, value, nullPointer ? nullptr : buffer.get(), opt);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    fuzzhost::giveTime = true;
    AEffect* e = vintrel::createInstance<TVintrelEffect>(fuzzhost::callback);
    if (e == nullptr) __builtin_trap();
    for (int step = 0; step < 64 && in.remaining_bytes() > 0; ++step) {
        switch (in.ConsumeIntegralInRange<int>(0, 7)) {
            case 0: dispatch(e, in); break;
            case 1:
                e->setParameter(e, in.ConsumeIntegralInRange<VstInt32>(-3, 14), in.ConsumeFloatingPoint<float>());
                break;
            case 2: e->getParameter(e, in.ConsumeIntegral<VstInt32>()); break;
            case 3: process<float>(e, in); break;
            case 4: process<double>(e, in); break;
            case 5: e->dispatcher(e, effMainsChanged, 0, in.ConsumeBool(), nullptr, 0.0f); break;
            case 6:
                fuzzhost::giveTime = in.ConsumeBool();
                fuzzhost::timeInfo.tempo = in.ConsumeFloatingPoint<double>();
                fuzzhost::timeInfo.ppqPos = in.ConsumeFloatingPoint<double>();
                fuzzhost::timeInfo.timeSigNumerator = in.ConsumeIntegral<VstInt32>();
                fuzzhost::timeInfo.timeSigDenominator = in.ConsumeIntegral<VstInt32>();
                fuzzhost::timeInfo.flags = in.ConsumeIntegral<VstInt32>();
                break;
            case 7: e->process(e, nullptr, nullptr, in.ConsumeIntegral<VstInt32>()); break;
        }
    }
    e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f);
    return 0;
}
