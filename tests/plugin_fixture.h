// Loading the built decoder module once per test program, and instances of it.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "host/vst_host.h"

inline std::string decoderPath() {
    const char* fromEnvironment = std::getenv("VINTREL_PLUGIN");
    return fromEnvironment && *fromEnvironment ? fromEnvironment : VINTREL_PLUGIN_PATH;
}

inline vsthost::Module& decoderModule() {
    static std::unique_ptr<vsthost::Module> module = [] {
        std::string error;
        auto loaded = vsthost::Module::load(decoderPath(), error);
        if (!loaded) {
            ADD_FAILURE() << error;
            std::abort();
        }
        return loaded;
    }();
    return *module;
}

// A host's instance of the decoder, created and opened as a host does.
struct Decoder : vsthost::Plugin {
    explicit Decoder(bool openIt = true) {
        if (!instantiate(decoderModule().entry())) {
            ADD_FAILURE() << "the decoder gave no instance";
            std::abort();
        }
        if (openIt) open();
    }
    // The usual start of a session: rate, block size, resume.
    void start(float rate = 48000.0f, VstInt32 block = 512) {
        setSampleRate(rate);
        setBlockSize(block);
        resume();
    }
};

// Three separate channels in and out, or in-place when asked.
template <class Sample>
struct Channels3 {
    std::vector<Sample> in[3], out[3];
    Sample* inputs[3];
    Sample* outputs[3];
    explicit Channels3(std::size_t frames, bool inPlace = false) {
        for (int k = 0; k < 3; ++k) {
            in[k].assign(frames, Sample(0));
            out[k].assign(frames, Sample(0));
            inputs[k] = in[k].data();
            outputs[k] = inPlace ? in[k].data() : out[k].data();
        }
    }
};
