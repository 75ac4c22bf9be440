// Our host library against someone else's plug-in: a mistake shared by our plug-in and our
// host would pass every other test, but not this one.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "host/vst_host.h"

namespace {

std::string thirdPartyPlugin() {
    const char* path = std::getenv("THIRD_PARTY_VST");
    return path && *path ? path : "/usr/lib/lxvst/DragonflyRoomReverb-vst.so";
}

TEST(ThirdPartyPlugin, LoadsNamesProcessesAndRoundTripsItsState) {
    const std::string path = thirdPartyPlugin();
    if (!std::filesystem::exists(path)) {
        if (std::getenv("REQUIRE_THIRD_PARTY_VST")) FAIL() << path << " is not installed";
        GTEST_SKIP() << path << " is not installed";
    }
    std::string error;
    auto module = vsthost::Module::load(path, error);
    ASSERT_TRUE(module) << error;
    vsthost::Plugin plugin;
    ASSERT_TRUE(plugin.instantiate(module->entry()));
    plugin.open();
    EXPECT_FALSE(plugin.effectName().empty());
    ASSERT_GT(plugin.numParams(), 0);
    for (VstInt32 i = 0; i < plugin.numParams(); ++i) EXPECT_FALSE(plugin.parameterName(i).empty()) << i;
    plugin.setSampleRate(48000.0f);
    plugin.setBlockSize(256);
    plugin.resume();

    const VstInt32 ins = plugin.numInputs(), outs = plugin.numOutputs();
    ASSERT_GT(outs, 0);
    std::vector<std::vector<float>> in(static_cast<std::size_t>(ins), std::vector<float>(256, 0.0f));
    std::vector<std::vector<float>> out(static_cast<std::size_t>(outs), std::vector<float>(256, 0.0f));
    for (auto& channel : in) channel[0] = 1.0f;  // an impulse into a reverb
    std::vector<float*> inPtr, outPtr;
    for (auto& channel : in) inPtr.push_back(channel.data());
    for (auto& channel : out) outPtr.push_back(channel.data());
    for (int block = 0; block < 8; ++block) plugin.process(inPtr.data(), outPtr.data(), 256);
    for (auto& channel : out)
        for (float v : channel) EXPECT_TRUE(std::isfinite(v));

    ASSERT_TRUE(plugin.effect()->flags & effFlagsProgramChunks);
    const auto state = plugin.getChunk();
    ASSERT_FALSE(state.empty());
    const float before = plugin.getParameter(0);
    plugin.setParameter(0, before > 0.5f ? 0.1f : 0.9f);
    EXPECT_NE(plugin.getParameter(0), before);
    plugin.setChunk(state);
    EXPECT_FLOAT_EQ(plugin.getParameter(0), before);
    plugin.suspend();
}

}  // namespace
