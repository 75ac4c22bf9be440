// Nothing a host does in a session's steady state may allocate: processing, parameter
// changes and repeated state saves and loads. Every allocation in the process is counted
// here, the plug-in's included, through replacements of malloc and operator new.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "plugin_fixture.h"
#if defined(VINTREL_LV2_BINARY)
#include <lv2/atom/atom.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>

#include <cmath>
#include <string>
#include <vector>

#include "host/lv2_host.h"
#include "urid_map.h"
#endif

extern "C" void* __libc_malloc(std::size_t);
extern "C" void* __libc_calloc(std::size_t, std::size_t);
extern "C" void* __libc_realloc(void*, std::size_t);
extern "C" void* __libc_memalign(std::size_t, std::size_t);
extern "C" void __libc_free(void*);

namespace {
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};
void note() {
    if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
}
}  // namespace

extern "C" void* malloc(std::size_t size) {
    note();
    return __libc_malloc(size);
}
extern "C" void* calloc(std::size_t n, std::size_t size) {
    note();
    return __libc_calloc(n, size);
}
extern "C" void* realloc(void* p, std::size_t size) {
    note();
    return __libc_realloc(p, size);
}
extern "C" void* memalign(std::size_t alignment, std::size_t size) {
    note();
    return __libc_memalign(alignment, size);
}
void* operator new(std::size_t size) {
    note();
    if (void* p = __libc_malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { __libc_free(p); }
void operator delete[](void* p) noexcept { __libc_free(p); }
void operator delete(void* p, std::size_t) noexcept { __libc_free(p); }
void operator delete[](void* p, std::size_t) noexcept { __libc_free(p); }

namespace {

TEST(NoAllocation, TheCountingSeesThePluginsAllocations) {
    allocations = 0;
    counting = true;
    {
        Decoder fx;  // creating an instance allocates its effect and adapter
    }
    counting = false;
    EXPECT_GT(allocations.exchange(0), 20);  // texts, parameter rows, the objects themselves
}

TEST(NoAllocation, ProcessingParametersAndRepeatedSavesAllocateNothing) {
    Decoder fx;
    fx.recordCalls = false;
    fx.start(48000.0f, 4096);
    Channels3<float> single(4096), singleInPlace(4096, true);
    Channels3<double> twice(4096), twiceInPlace(4096, true);
    for (int k = 0; k < 3; ++k)
        for (int j = 0; j < 4096; ++j) {
            single.in[k][static_cast<std::size_t>(j)] = static_cast<float>(j % 100) / 100;
            twice.in[k][static_cast<std::size_t>(j)] = static_cast<double>(j % 77) / 77;
        }
    void* chunk = nullptr;
    const VstIntPtr size = fx.dispatch(effGetChunk, 0, 0, &chunk);  // the first save sizes the stream
    ASSERT_EQ(size, 260);
    std::vector<char> saved(static_cast<const char*>(chunk), static_cast<const char*>(chunk) + size);
    char text[64];

    allocations = 0;
    counting = true;
    for (VstInt32 frames : {1, 7, 64, 512, 4096, 0}) {
        fx.process(single.inputs, single.outputs, frames);
        fx.process(singleInPlace.inputs, singleInPlace.outputs, frames);
        fx.process(twice.inputs, twice.outputs, frames);
        fx.process(twiceInPlace.inputs, twiceInPlace.outputs, frames);
    }
    for (VstInt32 i = 0; i < 11; ++i) {
        fx.effect()->setParameter(fx.effect(), i, 0.73f);
        fx.effect()->getParameter(fx.effect(), i);
        fx.dispatch(effGetParamDisplay, i, 0, text);
        fx.dispatch(effGetParamName, i, 0, text);
    }
    for (int again = 0; again < 5; ++again) {
        fx.dispatch(effGetChunk, 0, 0, &chunk);
        fx.dispatch(effSetChunk, 0, static_cast<VstIntPtr>(saved.size()), saved.data());
    }
    fx.process(single.inputs, single.outputs, 256);
    counting = false;
    EXPECT_EQ(allocations.load(), 0);
}

#if defined(VINTREL_LV2_BINARY)
// The LV2 plug-in's run(): changed controls applied and three channels decoded, in place and
// not, without an allocation; the DI's tone match learned (given through the state) and its
// amount moving.
TEST(NoAllocation, Lv2RunAllocatesNothing) {
    std::string error;
    UridMap uris;
    const LV2_Feature* features[] = {&uris.feature, nullptr};
    auto lv2 = lv2host::Instance::load(VINTREL_LV2_BINARY, "urn:brelvander:guitar-decoder", 48000.0, error, features);
    ASSERT_TRUE(lv2) << error;
    const auto* state = static_cast<const LV2_State_Interface*>(lv2->extensionData(LV2_STATE__interface));
    ASSERT_NE(state, nullptr);
    // A curve of 53 gains in dB, a few held, then the held points' bits.
    static std::vector<std::uint8_t> curve;
    for (int k = 0; k < 53; ++k) {
        const double db = 7.0 * std::sin(0.4 * k);
        std::uint8_t bytes[8];
        std::memcpy(bytes, &db, 8);
        curve.insert(curve.end(), bytes, bytes + 8);
    }
    curve.insert(curve.end(), {0x81, 0, 0, 0, 0, 0, 0, 0});
    static LV2_URID chunk = 0;
    chunk = uris(LV2_ATOM__Chunk);
    ASSERT_EQ(state->restore(
                  lv2->handle(),
                  [](LV2_State_Handle, uint32_t, size_t* size, uint32_t* type, uint32_t* flags) -> const void* {
                      *size = curve.size(), *type = chunk, *flags = LV2_STATE_IS_POD;
                      return curve.data();
                  },
                  nullptr, 0, features),
              LV2_STATE_SUCCESS);
    std::vector<float> audio[6];
    for (auto& buffer : audio) buffer.assign(4096, 0.25f);
    float controls[13] = {0, 0, 0, 0, 0, -150, 0, 0, 0, 0, 0, 0, 0};
    float latency = 0, enabled = 1, match = 0;
    for (std::uint32_t i = 0; i < 13; ++i) lv2->connect(6 + i, &controls[i]);
    lv2->connect(19, &latency);
    lv2->connect(20, &enabled);
    lv2->connect(21, &match);
    lv2->activate();
    allocations = 0;
    counting = true;
    // The DI's alignment changing every run too: whole, fractional, negative, crossfades under way.
    const float delays[] = {0.0f, 1.5125f, -0.7f, 2.0f, 0.0f, -3.3333f, 9.99f};
    for (int round = 0; round < 20; ++round) {
        const bool inPlace = round % 2 == 1;
        for (std::uint32_t p = 0; p < 6; ++p) lv2->connect(p, audio[inPlace ? p % 3 : p].data());
        for (std::uint32_t i = 0; i < 11; ++i) controls[i] = static_cast<float>((round * 7 + static_cast<int>(i)) % 3);
        controls[11] = delays[round % 7];
        controls[12] = static_cast<float>(round % 2);
        match = static_cast<float>((round * 37) % 101);
        lv2->run(static_cast<std::uint32_t>(1 + round * 200));
    }
    counting = false;
    EXPECT_EQ(allocations.load(), 0);
}
#endif

}  // namespace
