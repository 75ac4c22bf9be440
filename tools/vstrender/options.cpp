#include "tools/vstrender/options.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>

#include "align/di_aligner.h"
#include "entry/plugin_parameters.h"
#include "tools/vstrender/errors.h"

namespace fs = std::filesystem;

namespace vstrender {

namespace {

const char kUsage[] =
    "usage: vstrender -i INPUT [-i INPUT ...] -o OUTPUT [options]\n"
    "       vstrender --demo [-o OUTPUT] [options]\n"
    "       vstrender --analyze -i INPUT [-i INPUT ...] [--json] [--plot FILE.png] [options]\n"
    "\n"
    "Runs a VST 2 plug-in over audio files: the channels of the inputs, in order, feed the\n"
    "plug-in's inputs 1, 2, 3, ... (for the guitar decoder: mid, side, DI).\n"
    "\n"
    "  -i FILE               input audio file (WAV, AIFF, FLAC, ...); repeatable; - reads standard input\n"
    "  -o FILE               output audio file; its extension names the format; - writes WAV to standard output\n"
    "  --outputs LIST        plug-in outputs to write (default 1,2, the decoded pair; 1,2,3 adds the DI\n"
    "                        alone, which needs --param \"DI routing=output DI via pin 3\")\n"
    "  --format NAME         wav, aiff, flac, caf, w64, au, ogg, opus or mp3, for -o - or a name without one\n"
    "  --bits N              16, 24, 32 or float (default: the input's)\n"
    "  --on-clip warn|error  what to do when samples clip in a 16/24/32-bit or FLAC output (default warn)\n"
    "  --allow-short         render an input shorter than its header says, with a warning, instead of failing\n"
    "  --overwrite           replace existing output files (never an input)\n"
    "  --param NAME=VALUE    set a parameter by name or index, in displayed units (\"stereo width=-30\",\n"
    "                        \"L/R swap=swapped\", \"DI level=-inf\") or normalised from 0 to 1 (\"3=0.25:n\")\n"
    "  --list-params         print every parameter: value, range, step, default, unit, labels\n"
    "  --list-presets        print the guitar decoder's factory presets (for --preset NAME)\n"
    "  --preset FILE.fxp     load the plug-in's state from a program file, a VST 3 preset file\n"
    "                        (FILE.vstpreset, with its DI alignment), or a factory preset by its name\n"
    "  --save-preset FILE    save the plug-in's state as a program file\n"
    "  --block-size N        frames per processing call (default 512)\n"
    "  --double              process in double precision\n"
    "  --plugin PATH         the plug-in module (default: the guitar decoder)\n"
    "  --scope FILE.png      draw vectorscopes of outputs 1 and 2 (and, for the guitar decoder, of the\n"
    "                        plain mid/side decode beside it) with levels and correlation\n"
    "  --demo                synthesise a three-channel guitar take and decode it\n"
    "\n"
    "  --analyze             check the take instead of rendering it: the DI's delay and polarity against\n"
    "                        the microphones, the channels' balance, and the decoded pair's loudness\n"
    "                        (EBU R 128), true peak and the main output trim that keeps it at -1 dBTP\n"
    "  --json                with --analyze: print the findings as one JSON object\n"
    "  --plot FILE.png       with --analyze: draw levels and correlation over time and the DI's\n"
    "                        cross-correlation\n"
    "  --align-di            measure the DI's delay and polarity first, and correct them before decoding\n"
    "  --match-di            with --align-di: learn the DI's tone match to the mid microphone from the\n"
    "                        take as well, and apply it (the DI then lined up as matched)\n"
    "  --di-delay VALUE      delay the DI before decoding by VALUE ms or samples (\"1.42ms\", \"-3 samples\");\n"
    "                        fractions go through a 64-tap windowed sinc, whole samples move exactly\n"
    "  --di-polarity P       invert (or same, the default) the DI's polarity before decoding\n"
    "  -q, --quiet           no progress bar and no summary\n"
    "  --version             print the version\n"
    "\n"
    "Options take their value as the next word or after '=' (--outputs=1,2). Exit status: 0 done,\n"
    "1 failed while working (unreadable or damaged input, a write that failed, clipping with\n"
    "--on-clip error), 2 the command cannot be carried out as given.\n";

// The words of the command line, one option at a time: its name, and its value as the next
// word or after '='.
class Arguments {
public:
    Arguments(int argc, char** argv) : argc_(argc), argv_(argv) {}
    // Moves to the next option; false after the last.
    bool next() {
        if (++i_ >= argc_) return false;
        name = argv_[i_];
        attached_.reset();
        if (name.rfind("--", 0) == 0 && name.find('=') != std::string::npos) {
            attached_ = name.substr(name.find('=') + 1);
            name = name.substr(0, name.find('='));
        }
        return true;
    }
    std::string value() {
        if (attached_) return *attached_;
        if (i_ + 1 >= argc_) refuse(name + " needs a value");
        return argv_[++i_];
    }
    // Options that take one value or are switches may be given once.
    std::string single() {
        if (++seen_[name] > 1) refuse(name + " is given twice");
        return value();
    }
    bool flag() {
        if (attached_) refuse(name + " takes no value");
        if (++seen_[name] > 1) refuse(name + " is given twice");
        return true;
    }

    std::string name;

private:
    int argc_;
    char** argv_;
    int i_ = 0;
    std::optional<std::string> attached_;
    std::map<std::string, int> seen_;
};

int blockSize(const std::string& n) {
    char* end = nullptr;
    const long size = std::strtol(n.c_str(), &end, 10);
    if (n.empty() || *end != '\0' || size < 1 || size > 1 << 20)
        refuse("--block-size must be a whole number from 1 to 1048576");
    return static_cast<int>(size);
}

// Where the audio comes from and goes to. Each group answers whether the option was one of its.
bool setFileOption(Arguments& a, Options& o) {
    const std::string& n = a.name;
    if (n == "-i")
        o.inputs.push_back(a.value());
    else if (n == "-o")
        o.output = a.single();
    else if (n == "--outputs")
        o.outputList = a.single();
    else if (n == "--format")
        o.format = a.single();
    else if (n == "--bits")
        o.bits = a.single();
    else if (n == "--on-clip") {
        o.onClip = a.single();
        if (o.onClip != "warn" && o.onClip != "error") refuse("--on-clip takes warn or error, not " + o.onClip);
    } else if (n == "--allow-short")
        o.allowShort = a.flag();
    else if (n == "--overwrite")
        o.overwrite = a.flag();
    else
        return false;
    return true;
}

// The plug-in and how it is driven.
bool setPluginOption(Arguments& a, Options& o) {
    const std::string& n = a.name;
    if (n == "--param")
        o.params.push_back(a.value());
    else if (n == "--list-params")
        o.listParams = a.flag();
    else if (n == "--list-presets")
        o.listPresets = a.flag();
    else if (n == "--preset")
        o.preset = a.single();
    else if (n == "--save-preset")
        o.savePreset = a.single();
    else if (n == "--block-size")
        o.blockSize = blockSize(a.single());
    else if (n == "--double")
        o.useDouble = a.flag();
    else if (n == "--plugin")
        o.plugin = a.single();
    else if (n == "--demo")
        o.demo = a.flag();
    else
        return false;
    return true;
}

// Pictures, the take's analysis and the DI moved before decoding.
bool setAnalysisOption(Arguments& a, Options& o) {
    const std::string& n = a.name;
    if (n == "--scope")
        o.scope = a.single();
    else if (n == "--analyze")
        o.analyze = a.flag();
    else if (n == "--json")
        o.json = a.flag();
    else if (n == "--plot")
        o.plot = a.single();
    else if (n == "--align-di")
        o.alignDi = a.flag();
    else if (n == "--match-di")
        o.matchDi = a.flag();
    else if (n == "--di-delay")
        o.diDelay = a.single();
    else if (n == "--di-polarity") {
        o.diPolarity = a.single();
        if (o.diPolarity != "invert" && o.diPolarity != "same")
            refuse("--di-polarity takes invert or same, not " + o.diPolarity);
    } else
        return false;
    return true;
}

void setOption(Arguments& a, Options& o) {
    if (setFileOption(a, o) || setPluginOption(a, o) || setAnalysisOption(a, o)) return;
    const std::string& n = a.name;
    if (n == "-q" || n == "--quiet") {
        o.quiet = true;
    } else if (n == "--version") {
        std::printf("vstrender %s\n", VINTREL_VERSION);
        std::exit(0);
    } else if (n == "-h" || n == "--help") {
        std::fputs(kUsage, stdout);
        std::exit(0);
    } else {
        refuse("unknown option " + n);
    }
}

}  // namespace

Options parseArguments(int argc, char** argv) {
    Options o;
    Arguments arguments(argc, argv);
    while (arguments.next()) setOption(arguments, o);
    return o;
}

double diDelaySamples(const std::string& value, int sampleRate) {
    char* end = nullptr;
    const double number = std::strtod(value.c_str(), &end);
    std::string unit = end;
    unit.erase(0, unit.find_first_not_of(' '));
    const bool ms = unit == "ms", samples = unit == "samples" || unit == "sample";
    if (end == value.c_str() || !std::isfinite(number) || (!ms && !samples))
        refuse("--di-delay takes a number and its unit, ms or samples (\"1.42ms\", \"-68.2 samples\"), not " + value);
    // Milliseconds on the plug-ins' grid, so that a render moves the DI as they do.
    const double delay = ms ? align::samplesOf(vintrel::onDelayGrid(number), sampleRate) : number;
    if (std::abs(delay) > sampleRate) refuse("--di-delay " + value + " is more than a second: the DI does not belong to this take");
    return delay;
}

std::string defaultPlugin() {
    std::error_code error;
    const fs::path built = VSTRENDER_DEFAULT_PLUGIN;
    if (built.is_absolute() && fs::exists(built, error)) return built.string();
    // Installed: beside the program or one folder up, in a release archive's vst/ folder, or
    // where `cmake --install` puts it for a user (~/.vst) or under a prefix (PREFIX/lib/vst).
    const fs::path self = fs::read_symlink("/proc/self/exe", error).parent_path();
    std::vector<fs::path> candidates = {self, self.parent_path(), self.parent_path() / "vst",
                                        self.parent_path() / "lib" / "vst"};
    if (const char* home = std::getenv("HOME")) candidates.push_back(fs::path(home) / ".vst");
    for (const fs::path& folder : candidates)
        if (fs::exists(folder / built.filename(), error)) return (folder / built.filename()).string();
    return built.string();
}

}  // namespace vstrender
