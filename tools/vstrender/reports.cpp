#include "tools/vstrender/reports.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "tools/vstrender/errors.h"
#include "tools/vstrender/files.h"
#include "tools/vstrender/params.h"

namespace fs = std::filesystem;

namespace vstrender {

std::string changedSettings(vsthost::Plugin& plugin, vsthost::Plugin& fresh) {
    std::string settings;
    for (VstInt32 i = 0; i < plugin.numParams(); ++i) {
        const std::string now = plugin.parameterDisplay(i);
        if (now == fresh.parameterDisplay(i)) continue;
        settings += (settings.empty() ? "" : ", ") + plugin.parameterName(i) + " " + now;
        const std::string unit = unitOf(plugin, i);
        if (!unit.empty()) settings += " " + unit;
    }
    return settings.empty() ? "defaults" : settings;
}

void warnSilentOutputs(vsthost::Plugin& plugin, const std::vector<int>& picked, const Meters& meters) {
    for (std::size_t c = 0; c < picked.size(); ++c) {
        if (std::isfinite(meters.peakDb(c)) || meters.frames() == 0) continue;
        std::string hint;
        VstInt32 routing = 0;
        std::string error;
        if (picked[c] == 2 && findParameter(plugin, "DI routing", routing, error))
            hint = ": the DI reaches it with --param \"DI routing=output DI via pin 3\" and a DI level above -150";
        warn("output " + std::to_string(picked[c] + 1) + " is silent with these settings" + hint);
    }
}

void reportClipping(const Options& o, const std::vector<int>& picked, const RenderResult& result,
                    const Meters& meters, bool pcm) {
    std::uint64_t total = 0;
    for (std::size_t c = 0; c < picked.size(); ++c) {
        if (!pcm || result.clipped[c] == 0) continue;
        total += result.clipped[c];
        char line[256];
        std::snprintf(line, sizeof line, "output %d: %llu samples clipped (peak %s); %.1f dB of headroom is missing",
                      picked[c] + 1, static_cast<unsigned long long>(result.clipped[c]), formatDb(meters.peakDb(c)).c_str(),
                      meters.peakDb(c));
        if (o.onClip == "error") continue;
        warn(line);
    }
    if (total > 0) {
        const std::string advice = "lower \"main output trim\" by that much, or write a float file (--bits float)";
        if (o.onClip == "error")
            fail(std::to_string(total) + " samples would clip in " + o.output + " (--on-clip error); " + advice);
        warn(advice);
    }
    if (!pcm && !o.quiet)
        for (std::size_t c = 0; c < picked.size(); ++c)
            if (meters.peakDb(c) > 0.0)
                std::fprintf(stderr, "vstrender: output %d peaks at %s; a float file keeps it as it is\n",
                             picked[c] + 1, formatDb(meters.peakDb(c)).c_str());
}

void reportShortInput(const Options& o, const Inputs& inputs, const RenderResult& result, int sampleRate) {
    std::uint64_t announced = 0;
    for (auto& input : inputs) announced = std::max(announced, input->announced);
    if (result.frames >= announced) return;
    const double rate = sampleRate;
    char line[256];
    std::snprintf(line, sizeof line,
                  "the input ends after %.2f s of the %.2f s its header announces: the file is damaged or "
                  "cut short",
                  static_cast<double>(result.frames) / rate, static_cast<double>(announced) / rate);
    if (!o.allowShort) fail(std::string(line) + " (--allow-short renders what is there)");
    warn(std::string(line) + "; rendered what is there");
}

void printSummary(FILE* report, const Options& o, const std::vector<int>& picked, const RenderResult& result,
                  const Meters& meters, int sampleRate) {
    const double audioSeconds = static_cast<double>(result.frames) / sampleRate;
    std::fprintf(report, "Rendered %s: %llu frames, %.2f s at %d Hz, in %.3f s (%.0fx real time)%s\n",
                 o.output == "-" ? "standard output" : o.output.c_str(), static_cast<unsigned long long>(result.frames),
                 audioSeconds, sampleRate, result.seconds, result.seconds > 0 ? audioSeconds / result.seconds : 0.0,
                 o.useDouble ? ", double precision" : "");
    for (std::size_t c = 0; c < picked.size(); ++c)
        std::fprintf(report, "  output %d: peak %s, RMS %s\n", picked[c] + 1, formatDb(meters.peakDb(c)).c_str(),
                     formatDb(meters.rmsDb(c)).c_str());
    if (picked.size() >= 2)
        std::fprintf(report, "  correlation of outputs %d and %d: %+.2f\n", picked[0] + 1, picked[1] + 1,
                     meters.correlation());
}

void writeScopeFile(const Options& o, const Inputs& inputs, const std::string& settings, const Scope& scope,
                    const Scope* plainScope) {
    const std::string partial = o.scope + ".partial";
    TemporaryFiles::add(partial);
    std::vector<std::string> title = {"VECTORSCOPE  " + fs::path(inputs[0]->name).filename().string() +
                                          (inputs.size() > 1 ? " AND " + std::to_string(inputs.size() - 1) + " MORE" : ""),
                                      "SETTINGS: " + settings};
    std::vector<ScopePanel> panels = {{&scope, "OUTPUTS 1 AND 2, AS SET"}};
    if (plainScope) panels.push_back({plainScope, "PLAIN MID/SIDE DECODE (A/B)"});
    std::string error;
    if (!writeScopePicture(partial, title, panels, false, error)) fail(error);
    publish(partial, o.scope);
}

}  // namespace vstrender
