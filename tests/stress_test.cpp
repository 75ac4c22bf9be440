// Long sessions, many instances at once, and automation racing the audio thread, as hosts
// do them. Run under valgrind and the thread sanitizer by the hardening script as well.
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <random>
#include <thread>

#include "plugin_fixture.h"

namespace {

int envInt(const char* name, int fallback) {
    const char* value = std::getenv(name);
    return value && *value ? std::atoi(value) : fallback;
}

TEST(Lifecycle, AThousandSessionsOpenWorkAndClose) {
    const int sessions = envInt("STRESS_SESSIONS", 1000);
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::vector<std::uint8_t> previous;
    for (int session = 0; session < sessions; ++session) {
        Decoder fx;
        fx.recordCalls = false;
        fx.start(44100.0f, 256);
        if (!previous.empty()) {
            ASSERT_EQ(fx.setChunk(previous), 260);
        }
        for (int i = 0; i < 3; ++i) fx.setParameter(static_cast<VstInt32>(rng() % 11), unit(rng));
        Channels3<float> single(256, session % 2 == 0);
        Channels3<double> twice(256);
        fx.process(single.inputs, single.outputs, 256);
        fx.process(twice.inputs, twice.outputs, 200);
        previous = fx.getChunk();
        ASSERT_EQ(previous.size(), 260u);
        fx.suspend();
    }
}

// One instance's session: its own settings, then a run of blocks of its own input.
struct Session {
    std::unique_ptr<Decoder> fx;
    std::vector<double> output;
    unsigned seed;

    explicit Session(unsigned s) : fx(std::make_unique<Decoder>()), seed(s) {
        fx->recordCalls = false;
        fx->start();
        std::mt19937 rng(seed);
        std::uniform_real_distribution<float> unit(0.0f, 1.0f);
        for (VstInt32 i = 0; i < 11; ++i)
            if (i != 8) fx->setParameter(i, unit(rng));
    }
    void runBlock(int block) {
        std::mt19937 rng(seed * 1000 + static_cast<unsigned>(block));
        std::uniform_real_distribution<double> sample(-1.0, 1.0);
        Channels3<double> buffers(128);
        Channels3<float> single(64);
        for (int k = 0; k < 3; ++k) {
            for (double& v : buffers.in[k]) v = sample(rng);
            for (float& v : single.in[k]) v = static_cast<float>(sample(rng));
        }
        fx->process(buffers.inputs, buffers.outputs, 128);
        fx->process(single.inputs, single.outputs, 64);
        for (int k = 0; k < 3; ++k) {
            output.insert(output.end(), buffers.out[k].begin(), buffers.out[k].end());
            output.insert(output.end(), single.out[k].begin(), single.out[k].end());
        }
    }
};

TEST(Instances, SixtyFourOnSeveralThreadsSoundAsOneAfterAnother) {
    constexpr int kInstances = 64, kBlocks = 40, kThreads = 4;
    std::vector<std::unique_ptr<Session>> together, alone;
    for (int i = 0; i < kInstances; ++i) together.push_back(std::make_unique<Session>(100u + i));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int block = 0; block < kBlocks; ++block)
                for (int i = t; i < kInstances; i += kThreads) together[static_cast<std::size_t>(i)]->runBlock(block);
        });
    for (std::thread& thread : threads) thread.join();

    for (int i = 0; i < kInstances; ++i) {
        alone.push_back(std::make_unique<Session>(100u + i));
        for (int block = 0; block < kBlocks; ++block) alone.back()->runBlock(block);
        ASSERT_EQ(alone.back()->output.size(), together[static_cast<std::size_t>(i)]->output.size());
        EXPECT_EQ(std::memcmp(alone.back()->output.data(), together[static_cast<std::size_t>(i)]->output.data(),
                              alone.back()->output.size() * sizeof(double)),
                  0)
            << "instance " << i;
        alone.back().reset();
    }
    for (auto& session : together) session->fx->close();
}

// Hosts automate from their user-interface thread while the audio thread processes; no lock
// is taken, so values may change mid-block, but the audio stays finite.
TEST(Automation, FromASecondThreadWhileTheAudioThreadProcesses) {
    const auto duration = std::chrono::milliseconds(envInt("STRESS_AUTOMATION_MS", 1500));
    Decoder fx;
    fx.recordCalls = false;
    fx.start();
    std::atomic<bool> done{false};
    std::atomic<long> blocks{0}, changes{0}, nonFinite{0};
    std::thread audio([&] {
        std::mt19937 rng(5);
        std::uniform_real_distribution<double> sample(-1.0, 1.0);
        Channels3<double> twice(128);
        Channels3<float> single(128, true);
        while (!done) {
            for (int k = 0; k < 3; ++k) {
                for (double& v : twice.in[k]) v = sample(rng);
                for (float& v : single.in[k]) v = static_cast<float>(sample(rng));
            }
            fx.process(twice.inputs, twice.outputs, 128);
            fx.process(single.inputs, single.outputs, 128);
            for (int k = 0; k < 3; ++k)
                for (int j = 0; j < 128; ++j)
                    if (!std::isfinite(twice.out[k][static_cast<std::size_t>(j)]) ||
                        !std::isfinite(single.outputs[k][j]))
                        ++nonFinite;
            ++blocks;
        }
    });
    std::mt19937 rng(6);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    char text[32];
    const auto end = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < end) {
        const auto index = static_cast<VstInt32>(rng() % 11);
        fx.effect()->setParameter(fx.effect(), index, unit(rng));
        fx.effect()->getParameter(fx.effect(), index);
        fx.dispatch(effGetParamDisplay, index, 0, text);
        ++changes;
    }
    done = true;
    audio.join();
    EXPECT_GT(blocks.load(), 10);
    EXPECT_GT(changes.load(), 1000);
    EXPECT_EQ(nonFinite.load(), 0);
}

}  // namespace
