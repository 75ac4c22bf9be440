// The command-line renderer run as a user runs it, on small files made in a folder of the test's own.
#pragma once

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "host/vst_host.h"
#include "tools/vstrender/fxp.h"

namespace fs = std::filesystem;


struct Outcome {
    int status;
    std::string output;  // standard output and error together
};

class Renderer : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("vstrender_test_" + std::to_string(::getpid()) + "_" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

public:
    std::string path(const std::string& name) const { return (dir_ / name).string(); }

protected:

    // Runs the renderer with these arguments, from `folder` when given.
    Outcome render(const std::string& arguments, const std::string& folder = "") const {
        const std::string log = path("log.txt");
        const std::string command = (folder.empty() ? "" : "cd '" + folder + "' && ") + std::string(VSTRENDER_PATH) +
                                    " " + arguments + " > " + log + " 2>&1";
        const int raw = std::system(command.c_str());
        std::ifstream in(log);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, text};
    }

    // A file of random samples, channel-interleaved as libsndfile wants them.
    std::vector<float> writeTake(const std::string& name, int channels, int frames, int rate = 48000,
                                 int format = SF_FORMAT_WAV | SF_FORMAT_FLOAT, unsigned seed = 1) const {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<float> sample(-0.9f, 0.9f);
        std::vector<float> samples(static_cast<std::size_t>(channels * frames));
        for (float& v : samples) v = sample(rng);
        SF_INFO info{};
        info.samplerate = rate;
        info.channels = channels;
        info.format = format;
        SNDFILE* file = sf_open(path(name).c_str(), SFM_WRITE, &info);
        EXPECT_NE(file, nullptr);
        sf_writef_float(file, samples.data(), frames);
        sf_close(file);
        return samples;
    }

    static std::vector<float> readAll(const std::string& file, SF_INFO& info) {
        info = {};
        SNDFILE* handle = sf_open(file.c_str(), SFM_READ, &info);
        EXPECT_NE(handle, nullptr) << file;
        if (!handle) return {};
        std::vector<float> samples(static_cast<std::size_t>(info.frames * info.channels));
        sf_readf_float(handle, samples.data(), info.frames);
        sf_close(handle);
        return samples;
    }

    // The slider values a saved program file holds.
    std::vector<float> presetSliders(const std::string& file) const {
        std::vector<std::uint8_t> bytes;
        std::string error;
        vstrender::ProgramFile program;
        EXPECT_TRUE(vstrender::readFile(file, bytes, error) && vstrender::decodeProgramFile(bytes, program, error))
            << error;
        std::vector<float> values(program.chunk.size() / 4);
        std::memcpy(values.data(), program.chunk.data(), values.size() * 4);
        return values;
    }

    fs::path dir_;
};

