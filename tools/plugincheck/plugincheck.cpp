// plugincheck: loads a plug-in module of any of our formats the way a host does, processes a
// block of three channels through it and says what it found. Used to check release archives.
//   plugincheck vst2 MODULE | vst3 MODULE | clap MODULE | lv2 MODULE URI
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/clap_host.h"
#include "host/vst3_host.h"
#include "host/vst_host.h"
#if defined(VINTREL_HAVE_LV2_HOST)
#include "host/lv2_host.h"
#endif

namespace {

constexpr int kFrames = 256;

struct Channels {
    std::vector<float> in[3], out[3];
    float* inputs[3];
    float* outputs[3];
    Channels() {
        for (int k = 0; k < 3; ++k) {
            in[k].assign(kFrames, 0.0f);
            out[k].assign(kFrames, 0.0f);
            for (int j = 0; j < kFrames; ++j) in[k][static_cast<std::size_t>(j)] = 0.5f * std::sin(0.05f * static_cast<float>(j * (k + 1)));
            inputs[k] = in[k].data();
            outputs[k] = out[k].data();
        }
    }
    // Sound on the decoded pair, and nothing that is not a number.
    bool sounds() const {
        bool any = false;
        for (int k = 0; k < 3; ++k)
            for (float v : out[k]) {
                if (!std::isfinite(v)) return false;
                any |= k < 2 && v != 0.0f;
            }
        return any;
    }
};

int fail(const std::string& message) {
    std::fprintf(stderr, "plugincheck: %s\n", message.c_str());
    return 1;
}

int checkVst2(const std::string& path) {
    std::string error;
    auto module = vsthost::Module::load(path, error);
    if (!module) return fail(error);
    vsthost::Plugin plugin;
    plugin.recordCalls = false;
    if (!plugin.instantiate(module->entry())) return fail(path + " gave no instance");
    plugin.open();
    plugin.setSampleRate(48000.0f);
    plugin.setBlockSize(kFrames);
    plugin.resume();
    Channels c;
    plugin.process(c.inputs, c.outputs, kFrames);
    if (!c.sounds()) return fail(path + " processed no sound");
    std::printf("vst2 %s: \"%s\", %d parameters, processes\n", path.c_str(), plugin.effectName().c_str(), plugin.numParams());
    plugin.close();
    return 0;
}

int checkVst3(const std::string& path) {
    std::string error;
    auto module = vst3host::Module::load(path, error);
    if (!module) return fail(error);
    auto plugin = vst3host::Plugin::create(*module, error);
    if (!plugin) return fail(path + ": " + error);
    vst3::PClassInfo2 info{};
    void* factory3 = nullptr;
    if (module->factory()->queryInterface(vst3::IPluginFactory2::iid.bytes, &factory3) == vst3::kResultOk)
        static_cast<vst3::IPluginFactory2*>(factory3)->getClassInfo2(0, &info);
    if (!plugin->start(48000.0, kFrames, vst3::kSample32)) return fail(path + " does not start processing");
    Channels c;
    if (plugin->process(c.inputs, c.outputs, kFrames) != vst3::kResultOk || !c.sounds())
        return fail(path + " processed no sound");
    std::printf("vst3 %s: \"%s\" version %s, %d parameters, processes\n", path.c_str(), info.name, info.version,
                plugin->controller()->getParameterCount());
    return 0;
}

int checkClap(const std::string& path) {
    std::string error;
    auto module = claphost::Module::load(path, error);
    if (!module) return fail(error);
    const clap_plugin_descriptor_t* d = module->factory().get_plugin_descriptor(&module->factory(), 0);
    if (d == nullptr) return fail(path + " describes no plug-in");
    auto plugin = claphost::Plugin::create(*module, d->id);
    if (!plugin || !plugin->activate(48000.0, kFrames)) return fail(path + " gave no active plug-in");
    Channels c;
    if (plugin->process(c.inputs, c.outputs, kFrames) != CLAP_PROCESS_CONTINUE || !c.sounds())
        return fail(path + " processed no sound");
    std::printf("clap %s: \"%s\" version %s, processes\n", path.c_str(), d->name, d->version);
    return 0;
}

#if defined(VINTREL_HAVE_LV2_HOST)
int checkLv2(const std::string& path, const std::string& uri) {
    std::string error;
    auto plugin = lv2host::Instance::load(path, uri, 48000.0, error);
    if (!plugin) return fail(error);
    Channels c;
    float controls[11] = {0, 0, 0, 0, 0, -150, 0, 0, 0, 0, 0};
    for (std::uint32_t k = 0; k < 3; ++k) plugin->connect(k, c.inputs[k]), plugin->connect(3 + k, c.outputs[k]);
    for (std::uint32_t i = 0; i < 11; ++i) plugin->connect(6 + i, &controls[i]);
    plugin->activate();
    plugin->run(kFrames);
    if (!c.sounds()) return fail(path + " processed no sound");
    std::printf("lv2 %s: %s, processes\n", path.c_str(), uri.c_str());
    return 0;
}
#endif

}  // namespace

int main(int argc, char** argv) {
    const std::string format = argc > 2 ? argv[1] : "";
    if (format == "vst2" && argc == 3) return checkVst2(argv[2]);
    if (format == "vst3" && argc == 3) return checkVst3(argv[2]);
    if (format == "clap" && argc == 3) return checkClap(argv[2]);
#if defined(VINTREL_HAVE_LV2_HOST)
    if (format == "lv2" && argc == 4) return checkLv2(argv[2], argv[3]);
#endif
    std::fputs("usage: plugincheck vst2 MODULE | vst3 MODULE | clap MODULE | lv2 MODULE URI\n", stderr);
    return 2;
}
