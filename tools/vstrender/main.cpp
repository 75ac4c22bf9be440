// vstrender: runs a VST 2 plug-in offline over audio files, by default the guitar decoder.
// Its steps: read the options, load the plug-in, check every option and every place it will
// write, open the inputs, render, report, save. Nothing is written before everything is checked,
// and nothing half-written stays: files are written under temporary names, removed on any
// failure and on SIGINT, SIGTERM or SIGHUP.
#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "host/vst_host.h"
#include "tools/vstrender/analysis.h"
#include "tools/vstrender/analysis_report.h"
#include "tools/vstrender/demo.h"
#include "tools/vstrender/errors.h"
#include "tools/vstrender/files.h"
#include "tools/vstrender/formats.h"
#include "tools/vstrender/inputs.h"
#include "tools/vstrender/meters.h"
#include "tools/vstrender/options.h"
#include "tools/vstrender/params.h"
#include "tools/vstrender/render.h"
#include "tools/vstrender/reports.h"
#include "tools/vstrender/scope.h"
#include "tools/vstrender/session.h"

namespace fs = std::filesystem;
using namespace vstrender;

namespace {

// --demo: a synthesised take as the input, unless inputs are given.
void prepareDemo(Options& o) {
    if (!o.demo) return;
    if (o.output.empty()) o.output = "demo-decoded.wav";
    if (!o.inputs.empty()) return;
    const fs::path take = fs::path(o.output).parent_path() / "demo-take.wav";
    std::string error;
    if (!writeDemoTake(take.string(), 48000, 8.0, error)) fail(error);
    if (!o.quiet) std::printf("Synthesised a three-channel guitar take (mid, side, DI): %s\n", take.string().c_str());
    o.inputs.push_back(take.string());
}

void checkCombination(const Options& o) {
    if (o.inputs.empty() && !o.listParams && !o.listPresets && o.savePreset.empty()) refuse("no input given (-i FILE)");
    if (o.analyze) {
        if (o.inputs.empty()) refuse("--analyze needs the take (-i FILE)");
        if (!o.output.empty()) refuse("--analyze writes no audio: render with a command of its own (leave out -o)");
        if (o.alignDi) refuse("--align-di is for a render; --analyze reports the DI's delay and polarity");
        if (!o.scope.empty()) refuse("--scope is for a render; --analyze draws its own sheet with --plot");
    } else {
        if (o.json) refuse("--json goes with --analyze");
        if (!o.plot.empty()) refuse("--plot goes with --analyze (a render draws its vectorscope with --scope)");
    }
    if (o.matchDi && !o.alignDi) refuse("--match-di learns the match with the alignment: give --align-di too");
    if (o.alignDi && (!o.diDelay.empty() || !o.diPolarity.empty()))
        refuse("--align-di measures the DI's delay and polarity itself: leave out --di-delay and --di-polarity");
    if (o.analyze) return;
    if (!o.inputs.empty() && o.output.empty()) refuse("no output given (-o FILE)");
    if (o.inputs.empty() && !o.output.empty()) refuse("-o " + o.output + " needs an input (-i FILE)");
    if (std::count(o.inputs.begin(), o.inputs.end(), "-") > 1) refuse("standard input can be only one of the inputs");
}

// The output file, open under its temporary name.
struct Output {
    SF_INFO info{};
    bool pcm = false;  // integer samples (or FLAC), which clip at full scale
    std::string temporary;
    SNDFILE* file = nullptr;
};

Output openOutput(const Options& o, const Inputs& inputs, const std::vector<int>& picked) {
    Output out;
    out.info.samplerate = inputs[0]->info.samplerate;
    out.info.channels = static_cast<int>(picked.size());
    out.info.format = outputFormat(o, inputs[0]->info.format);
    if (!sf_format_check(&out.info))
        refuse("the output format cannot hold these samples (" + std::to_string(picked.size()) + " channels at " +
               std::to_string(out.info.samplerate) + " Hz); choose another --format or --bits");
    out.pcm = isPcm(out.info.format) || (out.info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC;
    if (o.output == "-") {
        out.temporary = temporaryFile("out");
        if (out.temporary.empty()) fail(std::string("cannot write standard output: ") + std::strerror(errno));
    } else {
        out.temporary = o.output + ".partial";
        TemporaryFiles::add(out.temporary);
    }
    out.file = sf_open(out.temporary.c_str(), SFM_WRITE, &out.info);
    if (!out.file) fail("cannot write " + o.output + ": " + sf_strerror(nullptr));
    if (out.pcm) sf_command(out.file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    return out;
}

// The DI's delay and polarity as given, or for --align-di as measured in a first pass.
DiShift diShiftFor(const Options& o, Inputs& inputs, int pluginInputs, FILE* report) {
    DiShift shift;
    const int rate = inputs[0]->info.samplerate;
    if (!o.diDelay.empty()) shift.delaySamples = diDelaySamples(o.diDelay, rate);
    shift.invert = o.diPolarity == "invert";
    if (!o.alignDi) return shift;
    checkAnalysable(inputs);
    const DiMeasure measured = measureDi(inputs, pluginInputs, o.matchDi);
    const align::DiEstimate mid = measured.estimates[0];
    if (mid.silent) fail("--align-di: the DI or the mid microphone is silent; there is nothing to align");
    if (mid.atEdge) fail("--align-di: the DI is more than 10 ms away: check that the files belong together");
    if (!mid.reliable()) {
        char correlation[16];
        std::snprintf(correlation, sizeof correlation, "%.2f", std::abs(mid.correlation));
        fail(std::string("--align-di: no reliable estimate of the DI's delay (correlation ") + correlation +
             "); render without it, or set --di-delay by ear");
    }
    shift.delaySamples = mid.delaySamples;
    shift.invert = mid.inverted();
    if (o.matchDi) {
        if (!o.quiet) std::fprintf(report, "Matching the DI's tone to the mid microphone: %s\n", describeCurve(measured.curve).c_str());
        shift.matchTone = measured.curve.learned() && !measured.curve.flat();
        shift.tone = measured.sections;
        // Lined up as matched: the sections delay the DI's low end more than its highs.
        if (shift.matchTone) shift.delaySamples = measured.matched[0].delaySamples, shift.invert = measured.matched[0].inverted();
    }
    if (!o.quiet)
        std::fprintf(report, "Aligning the DI%s: %s, %s polarity\n", shift.matchTone ? " as matched" : "",
                     describeDelay(shift.delaySamples, rate, "the mid microphone").c_str(), shift.invert ? "inverted" : "same");
    return shift;
}

// For a title: how the DI was moved before decoding, if it was.
std::string movedDi(const DiShift& shift) {
    if (!shift.any()) return "";
    char moved[96];
    std::snprintf(moved, sizeof moved, "; the DI delayed %.2f samples%s%s", shift.delaySamples,
                  shift.invert ? " and inverted" : "", shift.matchTone ? ", its tone matched" : "");
    return moved;
}

// --analyze: the take checked with the plug-in as set, reported in words or JSON, and drawn.
void analyzeFiles(const Options& o, LoadedPlugin& p, vsthost::Plugin& fresh) {
    Inputs inputs = openInputs(o);
    checkAnalysable(inputs);
    checkChannelCount(inputs, p.instance->numInputs());
    if (p.instance->numOutputs() < 2) refuse("--analyze needs a plug-in with two outputs");
    const DiShift shift = diShiftFor(o, inputs, p.instance->numInputs(), stdout);
    const Analysis a = analyzeTake(inputs, p, fresh, shift, o.useDouble);
    if (o.json)
        std::fputs(analysisJson(a).c_str(), stdout);
    else
        printAnalysis(stdout, a);
    if (o.plot.empty()) return;
    const std::string partial = o.plot + ".partial";
    TemporaryFiles::add(partial);
    std::string error;
    if (!writeAnalysisPlot(partial, a, error)) fail(error);
    publish(partial, o.plot);
    if (!o.json && !o.quiet) std::printf("\nPlot: %s\n", o.plot.c_str());
}

// The inputs through the plug-in into the output, then what the render found.
void renderFiles(const Options& o, LoadedPlugin& p, vsthost::Plugin& fresh, const std::vector<int>& picked,
                 FILE* report) {
    vsthost::Plugin& plugin = *p.instance;
    Inputs inputs = openInputs(o);
    checkChannelCount(inputs, plugin.numInputs());
    const DiShift shift = diShiftFor(o, inputs, plugin.numInputs(), report);
    Output out = openOutput(o, inputs, picked);

    // For the guitar decoder's scope, the plain mid/side decode of the same take beside it.
    std::unique_ptr<vsthost::Plugin> plain = o.scope.empty() ? nullptr : plainDecodeOf(p);
    for (vsthost::Plugin* instance : {&plugin, plain.get()}) {
        if (!instance) continue;
        instance->setSampleRate(static_cast<float>(out.info.samplerate));
        instance->setBlockSize(o.blockSize);
        instance->resume();
    }
    Meters meters(picked.size());
    Scope scope, plainScope;
    Render r;
    r.plain = plain.get();
    r.out = out.file;
    r.picked = picked;
    r.blockSize = o.blockSize;
    r.countClips = out.pcm;
    r.quiet = o.quiet;
    r.meters = &meters;
    r.scope = o.scope.empty() ? nullptr : &scope;
    r.plainScope = plain ? &plainScope : nullptr;
    r.diShift = shift;
    const RenderResult result = renderTake(plugin, inputs, r, o.useDouble);
    plugin.suspend();
    if (sf_close(out.file) != 0) fail("cannot write " + o.output);

    reportShortInput(o, inputs, result, out.info.samplerate);
    reportClipping(o, picked, result, meters, out.pcm);
    publish(out.temporary, o.output);
    if (!o.quiet) printSummary(report, o, picked, result, meters, out.info.samplerate);
    warnSilentOutputs(plugin, picked, meters);
    if (!o.scope.empty()) {
        writeScopeFile(o, inputs, changedSettings(plugin, fresh) + movedDi(shift), scope, plain ? &plainScope : nullptr);
        if (!o.quiet) std::fprintf(report, "  vectorscope: %s\n", o.scope.c_str());
    }
}

int run(int argc, char** argv) {
    Options o = parseArguments(argc, argv);
    prepareDemo(o);
    checkCombination(o);
    // Reports go to standard error when the audio goes to standard output.
    FILE* report = o.output == "-" ? stderr : stdout;

    // A path with or without a slash is a file here, not a name for the loader to search.
    LoadedPlugin p = loadPlugin(o.plugin.empty() ? defaultPlugin() : fs::absolute(o.plugin).string());
    vsthost::Plugin& plugin = *p.instance;
    auto fresh = anotherInstance(p);
    if (!o.preset.empty()) {
        // A preset's alignment moves the DI, unless the options say how to.
        const PresetAlignment alignment = loadPreset(plugin, o.preset);
        if ((alignment.delayMs != 0 || alignment.inverted) && o.diDelay.empty() && o.diPolarity.empty() && !o.alignDi) {
            char delay[32];
            std::snprintf(delay, sizeof delay, "%.4f ms", alignment.delayMs);
            o.diDelay = delay;
            o.diPolarity = alignment.inverted ? "invert" : "same";
        }
    }
    applyParameters(plugin, o.params);
    if (o.listParams) std::fputs(listParameters(plugin, *fresh).c_str(), report);
    if (o.listPresets) std::fputs(listPresets().c_str(), report);
    if (o.useDouble && !plugin.canDoubleReplacing()) refuse("the plug-in cannot process in double precision");

    const std::vector<int> picked = parseOutputs(o.outputList, plugin.numOutputs());
    if (!o.scope.empty() && plugin.numOutputs() < 2) refuse("--scope needs a plug-in with two outputs");
    checkPlaces(o);

    if (o.analyze)
        analyzeFiles(o, p, *fresh);
    else if (!o.inputs.empty())
        renderFiles(o, p, *fresh, picked, report);
    if (!o.savePreset.empty()) {
        savePreset(plugin, o.savePreset);
        if (!o.quiet) std::fprintf(report, "Saved the plug-in's state: %s\n", o.savePreset.c_str());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal, TemporaryFiles::onSignal);
    try {
        const int status = run(argc, argv);
        TemporaryFiles::removeAll();
        return status;
    } catch (const Failure& failure) {
        TemporaryFiles::removeAll();
        std::fprintf(stderr, "vstrender: %s\n", failure.message.c_str());
        if (failure.status == 2) std::fprintf(stderr, "see vstrender --help\n");
        return failure.status;
    }
}
