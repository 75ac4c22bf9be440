// A host session with the decoder: parameters, the requests it makes of the host, and its
// state chunk.
#include <cmath>
#include <cstring>

#include "far_values.h"
#include "plugin_fixture.h"

namespace {

struct Row {
    const char* name;
    const char* label;
    const char* display;
    float normalized;
};
const Row kRows[11] = {
    {"mid channel trim", "dB", "0.00", 0.5f},
    {"side channel trim", "dB", "0.00", 0.5f},
    {"output trim", "dB", "0.00", 150.0f / 162},
    {"stereo width", "", "0.00", 0.5f},
    {"L/R swap", "", "normal", 0.0f},
    {"DI level", "", "-150.00", 0.0f},
    {"DI pan to L/R", "", "0.00", 0.5f},
    {"DI routing", "", "mix DI with plugin output", 0.0f},
    {"A/B MS", "", "processed", 0.0f},
    {"active channels", "", "all", 0.0f},
    {"main output trim", "", "0.00", 0.5f},
};

std::vector<float> chunkFloats(const std::vector<std::uint8_t>& bytes) {
    std::vector<float> values(bytes.size() / 4);
    std::memcpy(values.data(), bytes.data(), values.size() * 4);
    return values;
}

std::vector<std::uint8_t> chunkBytes(const std::vector<float>& values) {
    std::vector<std::uint8_t> bytes(values.size() * 4);
    std::memcpy(bytes.data(), values.data(), bytes.size());
    return bytes;
}

TEST(Parameters, ElevenRowsWithTheirNamesLabelsAndDefaults) {
    Decoder fx;
    ASSERT_EQ(fx.numParams(), 11);
    for (VstInt32 i = 0; i < 11; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(fx.parameterName(i), kRows[i].name);
        EXPECT_EQ(fx.parameterLabel(i), kRows[i].label);
        EXPECT_EQ(fx.parameterDisplay(i), kRows[i].display);
        EXPECT_FLOAT_EQ(fx.getParameter(i), kRows[i].normalized);
    }
}

TEST(Parameters, SetQuantisesToTheRowStepAndDisplaysInItsUnits) {
    Decoder fx;
    fx.setParameter(3, 0.375f);  // stereo width: -120 + 0.375 * 240 = -30
    EXPECT_EQ(fx.parameterDisplay(3), "-30.00");
    EXPECT_EQ(fx.getParameter(3), 0.375f);
    fx.setParameter(0, 0.5f + 0.123f / 24);  // 0.123 dB is quantised to 0.1 dB
    EXPECT_EQ(fx.parameterDisplay(0), "0.10");
    fx.setParameter(4, 1.0f);
    EXPECT_EQ(fx.parameterDisplay(4), "swapped");
    fx.setParameter(4, 0.49f);
    EXPECT_EQ(fx.parameterDisplay(4), "normal");
    fx.setParameter(9, 0.5f);
    EXPECT_EQ(fx.parameterDisplay(9), "MS only");
    fx.setParameter(9, 0.76f);
    EXPECT_EQ(fx.parameterDisplay(9), "DI only");
    fx.setParameter(7, 1.0f);
    EXPECT_EQ(fx.parameterDisplay(7), "output DI via pin 3");  // 25 characters arrive whole
    // A host value past either end acts as that end.
    fx.setParameter(5, 1.5f);
    EXPECT_EQ(fx.parameterDisplay(5), "12.00");
    EXPECT_EQ(fx.getParameter(5), 1.0f);
    fx.setParameter(5, -0.5f);
    EXPECT_EQ(fx.parameterDisplay(5), "-150.00");
    EXPECT_EQ(fx.getParameter(5), 0.0f);
}

TEST(Parameters, IndicesOutsideTheTableAndNonFiniteValuesChangeNothing) {
    Decoder fx;
    const auto before = fx.getChunk();
    for (VstInt32 index : {-1, 11, 1000}) {
        fx.setParameter(index, 0.9f);
        EXPECT_EQ(fx.getParameter(index), 0.0f);
        char buffer[16] = "untouched";
        for (VstInt32 opcode : {effGetParamName, effGetParamLabel, effGetParamDisplay}) {
            fx.dispatch(opcode, index, 0, buffer);
            EXPECT_STREQ(buffer, "untouched");
        }
    }
    for (float x : {std::nanf(""), HUGE_VALF, -HUGE_VALF}) fx.setParameter(3, x);
    EXPECT_EQ(fx.getChunk(), before);
}

// A take at half scale on every channel, and its decoding checked against the loudest gain the
// ranges allow.
template <class Sample>
::testing::AssertionResult decodesWithinRange(Decoder& fx) {
    Channels3<Sample> io(256);
    for (int k = 0; k < 3; ++k)
        for (std::size_t j = 0; j < 256; ++j) io.in[k][j] = static_cast<Sample>(0.5 * std::sin(0.05 * j * (k + 1)));
    fx.process(io.inputs, io.outputs, 256);
    return withinTheLoudestGain(io.inputs, io.outputs, 256);
}

TEST(Parameters, FarValuesInAStateAreHeldAtTheRangeEndsAndNeverBlast) {
    for (std::size_t p = 0; p < decoder::kParameters.size(); ++p)
        for (float extreme : kFarValues) {
            SCOPED_TRACE(testing::Message() << decoder::kParameters[p].name << " at " << extreme);
            Decoder fx;
            fx.start();
            const auto state = stateWith(fx.getChunk(), p, extreme);
            EXPECT_EQ(fx.setChunk(state), 260);
            const auto index = static_cast<VstInt32>(p);
            EXPECT_EQ(fx.getParameter(index), heldAtNormalized(extreme));
            float held = 0;
            std::memcpy(&held, fx.getChunk().data() + 4 * (p + 1), 4);
            EXPECT_EQ(held, heldAt(p, extreme));
            EXPECT_TRUE(decodesWithinRange<float>(fx));
            EXPECT_TRUE(decodesWithinRange<double>(fx));
        }
}

TEST(Parameters, RequestsPastEitherEndActAsThatEnd) {
    for (VstInt32 p = 0; p < 11; ++p)
        for (float x : {1.5f, -0.5f, 1e6f, -1e6f, 3.4e38f}) {
            Decoder fx;
            fx.start();
            fx.setParameter(p, x);
            const float end = x > 0 ? 1.0f : 0.0f;
            EXPECT_EQ(fx.getParameter(p), end) << "parameter " << p << " set to " << x;
            Decoder reference;
            reference.start();
            reference.setParameter(p, end);
            EXPECT_EQ(fx.parameterDisplay(p), reference.parameterDisplay(p));
            EXPECT_EQ(fx.getChunk(), reference.getChunk());
            EXPECT_TRUE(decodesWithinRange<float>(fx)) << "parameter " << p << " set to " << x;
        }
}

TEST(HostRequests, ResumeAsksForTempoAndEveryBlockForTheTransport) {
    Decoder fx;
    fx.calls.clear();
    fx.start();
    ASSERT_EQ(fx.calls.size(), 1u);
    EXPECT_EQ(fx.calls[0].opcode, audioMasterGetTime);
    EXPECT_EQ(fx.calls[0].value, 1024);
    EXPECT_TRUE(fx.calls[0].fromEffect);

    Channels3<float> single(16);
    Channels3<double> twice(16);
    for (VstInt32 frames : {16, 0, -3}) {
        fx.calls.clear();
        fx.process(single.inputs, single.outputs, frames);
        fx.process(twice.inputs, twice.outputs, frames);
        ASSERT_EQ(fx.calls.size(), 8u) << frames;
        const VstIntPtr filters[4] = {9216, 2, 8, 512};
        for (std::size_t i = 0; i < 8; ++i) {
            EXPECT_EQ(fx.calls[i].opcode, audioMasterGetTime);
            EXPECT_EQ(fx.calls[i].value, filters[i % 4]);
        }
    }
    fx.calls.clear();
    fx.dispatch(effMainsChanged, 0, 0);
    fx.setParameter(1, 0.7f);
    fx.getChunk();
    fx.dispatch(effEditIdle);
    EXPECT_TRUE(fx.calls.empty());
}

TEST(HostRequests, AHostWithoutTimeInformationIsFine) {
    Decoder fx;
    fx.provideTimeInfo = false;
    fx.start();
    Channels3<float> buffers(8);
    buffers.in[0].assign(8, 0.5f);
    fx.process(buffers.inputs, buffers.outputs, 8);
    EXPECT_EQ(buffers.out[0][7], 0.5f);  // default settings: left = mid + side
}

TEST(Chunks, AFreshDecoderSavesTheMarkerItsDefaultsAndZeros) {
    Decoder fx;
    const auto bytes = fx.getChunk();
    ASSERT_EQ(bytes.size(), 260u);
    const std::vector<float> values = chunkFloats(bytes);
    EXPECT_EQ(values[0], -1000.0f);
    for (std::size_t i = 1; i < 65; ++i) EXPECT_EQ(values[i], i == 6 ? -150.0f : 0.0f) << i;
    EXPECT_EQ(fx.getChunk(true), bytes);  // program and bank requests give the same chunk
}

TEST(Chunks, SavedStateComesBackExactlyInAnotherInstance) {
    Decoder source;
    source.setParameter(0, 0.5f + 0.1f / 24);  // mid channel trim 0.1 dB
    source.setParameter(3, 0.25f);
    source.setParameter(4, 1.0f);
    source.setParameter(9, 1.0f);
    const auto saved = source.getChunk();
    ASSERT_EQ(saved.size(), 260u);
    EXPECT_EQ(chunkFloats(saved)[1], 0.1f);

    Decoder target;
    EXPECT_EQ(target.setChunk(saved), 260);
    EXPECT_EQ(target.getChunk(), saved);
    for (VstInt32 i = 0; i < 11; ++i) EXPECT_EQ(target.parameterDisplay(i), source.parameterDisplay(i)) << i;
}

TEST(Chunks, ShortLongAndForeignData) {
    Decoder fx;
    EXPECT_EQ(fx.setChunk(chunkBytes({-1000.0f, 6.0f})), 8);  // slider 1 only
    EXPECT_EQ(fx.parameterDisplay(0), "6.00");
    EXPECT_EQ(fx.parameterDisplay(5), "-150.00");

    const auto before = fx.getChunk();
    EXPECT_EQ(fx.setChunk(chunkBytes({-999.0f, 1.0f, 2.0f})), 12);
    EXPECT_EQ(fx.setChunk({0x00, 0x00}), 2);
    EXPECT_EQ(fx.getChunk(), before);

    // Values that no row uses travel too, and trailing odd bytes are ignored.
    std::vector<float> full(65, 0.0f);
    full[0] = -1000.0f;
    full[2] = -3.0f;
    full[40] = 3.5f;
    auto bytes = chunkBytes(full);
    bytes.push_back(0x12);
    bytes.push_back(0x34);
    EXPECT_EQ(fx.setChunk(bytes), 262);
    const std::vector<float> back = chunkFloats(fx.getChunk());
    EXPECT_EQ(back[40], 3.5f);
    EXPECT_EQ(back[1], 0.0f);
    EXPECT_EQ(fx.parameterDisplay(1), "-3.00");
}

}  // namespace
