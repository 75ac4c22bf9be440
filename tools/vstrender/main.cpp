// vstrender: runs a VST 2 plug-in offline over audio files, by default the guitar decoder.
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "host/vst_host.h"
#include "tools/vstrender/demo.h"
#include "tools/vstrender/fxp.h"
#include "tools/vstrender/meters.h"
#include "tools/vstrender/params.h"
#include "tools/vstrender/scope.h"

namespace fs = std::filesystem;
using namespace vstrender;

namespace {

const char kUsage[] =
    "usage: vstrender -i INPUT [-i INPUT ...] -o OUTPUT [options]\n"
    "       vstrender --demo [-o OUTPUT] [options]\n"
    "\n"
    "Runs a VST 2 plug-in over audio files: the channels of the inputs, in order, feed the\n"
    "plug-in's inputs 1, 2, 3, ...\n"
    "\n"
    "  -i FILE               input audio file (WAV, AIFF, FLAC, ...); repeatable\n"
    "  -o FILE               output audio file\n"
    "  --outputs LIST        plug-in outputs to write, e.g. 1,2 (default: all)\n"
    "  --format NAME         wav, aiff, flac, caf, w64, au or ogg (default: from -o, else the input's)\n"
    "  --bits N              16, 24, 32 or float (default: the input's)\n"
    "  --overwrite           replace existing output files\n"
    "  --param NAME=VALUE    set a parameter by name or index, in displayed units\n"
    "                        (\"stereo width=-30\", \"L/R swap=swapped\") or normalised (\"3=0.25:n\")\n"
    "  --list-params         print every parameter with its index, value and unit\n"
    "  --preset FILE.fxp     load the plug-in's state from a program file\n"
    "  --save-preset FILE    save the plug-in's state as a program file\n"
    "  --block-size N        frames per processing call (default 512)\n"
    "  --double              process in double precision\n"
    "  --plugin PATH         the plug-in module (default: the built guitar decoder)\n"
    "  --scope FILE.png      draw a vectorscope of outputs 1 and 2 with their correlation\n"
    "  --demo                synthesise a three-channel guitar take and decode it\n"
    "  --quiet               no progress bar\n";

struct Options {
    std::vector<std::string> inputs;
    std::string output, outputList, format, bits, preset, savePreset, plugin, scope;
    std::vector<std::string> params;
    int blockSize = 512;
    bool overwrite = false, listParams = false, useDouble = false, demo = false, quiet = false;
};

struct Refusal {
    std::string message;
};

[[noreturn]] void refuse(const std::string& message) { throw Refusal{message}; }

Options parseArguments(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) refuse(a + " needs a value");
            return argv[++i];
        };
        if (a == "-i")
            o.inputs.push_back(value());
        else if (a == "-o")
            o.output = value();
        else if (a == "--outputs")
            o.outputList = value();
        else if (a == "--format")
            o.format = value();
        else if (a == "--bits")
            o.bits = value();
        else if (a == "--overwrite")
            o.overwrite = true;
        else if (a == "--param")
            o.params.push_back(value());
        else if (a == "--list-params")
            o.listParams = true;
        else if (a == "--preset")
            o.preset = value();
        else if (a == "--save-preset")
            o.savePreset = value();
        else if (a == "--block-size") {
            const std::string n = value();
            char* end = nullptr;
            const long size = std::strtol(n.c_str(), &end, 10);
            if (*end != '\0' || size < 1 || size > 1 << 20)
                refuse("--block-size must be a whole number from 1 to 1048576");
            o.blockSize = static_cast<int>(size);
        } else if (a == "--double")
            o.useDouble = true;
        else if (a == "--plugin")
            o.plugin = value();
        else if (a == "--scope")
            o.scope = value();
        else if (a == "--demo")
            o.demo = true;
        else if (a == "--quiet")
            o.quiet = true;
        else if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else
            refuse("unknown option " + a + "\n\n" + kUsage);
    }
    return o;
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

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

int majorFormat(const std::string& name) {
    const std::string n = lower(name);
    if (n == "wav") return SF_FORMAT_WAV;
    if (n == "aif" || n == "aiff") return SF_FORMAT_AIFF;
    if (n == "flac") return SF_FORMAT_FLAC;
    if (n == "caf") return SF_FORMAT_CAF;
    if (n == "w64") return SF_FORMAT_W64;
    if (n == "au") return SF_FORMAT_AU;
    if (n == "ogg") return SF_FORMAT_OGG;
    return 0;
}

int outputFormat(const Options& o, int inputFormat) {
    int major = o.format.empty() ? 0 : majorFormat(o.format);
    if (!o.format.empty() && major == 0)
        refuse("unknown --format " + o.format + " (wav, aiff, flac, caf, w64, au, ogg)");
    if (major == 0) major = majorFormat(fs::path(o.output).extension().string().erase(0, 1));  // ".wav" -> "wav"
    if (major == 0) major = inputFormat & SF_FORMAT_TYPEMASK;
    int subtype = inputFormat & SF_FORMAT_SUBMASK;
    if (o.bits == "16")
        subtype = SF_FORMAT_PCM_16;
    else if (o.bits == "24")
        subtype = SF_FORMAT_PCM_24;
    else if (o.bits == "32")
        subtype = SF_FORMAT_PCM_32;
    else if (o.bits == "float" || o.bits == "32f")
        subtype = SF_FORMAT_FLOAT;
    else if (!o.bits.empty())
        refuse("unknown --bits " + o.bits + " (16, 24, 32 or float)");
    if (major == SF_FORMAT_OGG)
        subtype = SF_FORMAT_VORBIS;
    else if (subtype == SF_FORMAT_VORBIS || subtype == SF_FORMAT_OPUS)
        subtype = SF_FORMAT_PCM_24;
    return major | subtype;
}

struct InputFile {
    std::string path;
    SNDFILE* file = nullptr;
    SF_INFO info{};
    ~InputFile() {
        if (file) sf_close(file);
    }
};

void checkNotExisting(const std::string& path, bool overwrite) {
    std::error_code error;
    if (!path.empty() && !overwrite && fs::exists(path, error)) refuse(path + " exists; add --overwrite to replace it");
}

// Shows progress on standard error once a render has taken half a second.
class Progress {
public:
    explicit Progress(bool enabled, std::uint64_t total) : enabled_(enabled && isatty(2)), total_(total) {}
    void update(std::uint64_t done) {
        if (!enabled_ || total_ == 0) return;
        const auto now = std::chrono::steady_clock::now();
        if (now - start_ < std::chrono::milliseconds(500) || now - last_ < std::chrono::milliseconds(100)) return;
        last_ = now;
        shown_ = true;
        const int width = 40, filled = static_cast<int>(width * done / total_);
        std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(static_cast<std::size_t>(filled), '#').c_str(),
                     std::string(static_cast<std::size_t>(width - filled), '.').c_str(),
                     static_cast<int>(100 * done / total_));
    }
    ~Progress() {
        if (shown_) std::fprintf(stderr, "\r%60s\r", "");
    }

private:
    bool enabled_;
    std::uint64_t total_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now(), last_;
};

std::vector<int> parseOutputs(const std::string& list, int available) {
    std::vector<int> picked;
    if (list.empty()) {
        for (int k = 0; k < available; ++k) picked.push_back(k);
        return picked;
    }
    std::size_t at = 0;
    while (at <= list.size()) {
        const std::size_t comma = list.find(',', at);
        const std::string item = list.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
        char* end = nullptr;
        const long n = std::strtol(item.c_str(), &end, 10);
        if (item.empty() || *end != '\0' || n < 1 || n > available)
            refuse("--outputs " + list + ": the plug-in has outputs 1 to " + std::to_string(available));
        picked.push_back(static_cast<int>(n - 1));
        if (comma == std::string::npos) break;
        at = comma + 1;
    }
    return picked;
}

template <class Sample>
sf_count_t readFrames(SNDFILE* file, Sample* buffer, sf_count_t frames) {
    if constexpr (sizeof(Sample) == sizeof(float))
        return sf_readf_float(file, buffer, frames);
    else
        return sf_readf_double(file, buffer, frames);
}

template <class Sample>
sf_count_t writeFrames(SNDFILE* file, const Sample* buffer, sf_count_t frames) {
    if constexpr (sizeof(Sample) == sizeof(float))
        return sf_writef_float(file, buffer, frames);
    else
        return sf_writef_double(file, buffer, frames);
}

struct RenderResult {
    std::uint64_t frames = 0;
    double seconds = 0.0;
};

// Streams the inputs through the plug-in in blocks: memory does not grow with the file.
template <class Sample>
RenderResult render(vsthost::Plugin& plugin, std::vector<std::unique_ptr<InputFile>>& inputs, SNDFILE* out,
                    const std::vector<int>& picked, int blockSize, Meters& meters, Scope* scope, bool quiet) {
    const int ins = plugin.numInputs(), outs = plugin.numOutputs();
    const auto block = static_cast<std::size_t>(blockSize);
    std::vector<std::vector<Sample>> in(static_cast<std::size_t>(std::max(ins, 1)), std::vector<Sample>(block));
    std::vector<std::vector<Sample>> outBuffers(static_cast<std::size_t>(std::max(outs, 1)),
                                                std::vector<Sample>(block));
    std::vector<Sample*> inPtr, outPtr, pickedPtr;
    for (auto& c : in) inPtr.push_back(c.data());
    for (auto& c : outBuffers) outPtr.push_back(c.data());
    for (int k : picked) pickedPtr.push_back(outBuffers[static_cast<std::size_t>(k)].data());
    std::vector<Sample> interleaved, fileBlock;
    interleaved.resize(block * picked.size());

    const std::uint64_t total = static_cast<std::uint64_t>(inputs[0]->info.frames);
    Progress progress(!quiet, total);
    const auto started = std::chrono::steady_clock::now();
    std::uint64_t done = 0;
    while (done < total) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(block, total - done));
        int channel = 0;
        for (auto& input : inputs) {
            const auto width = static_cast<std::size_t>(input->info.channels);
            fileBlock.resize(n * width);
            const sf_count_t got = readFrames(input->file, fileBlock.data(), static_cast<sf_count_t>(n));
            if (got != static_cast<sf_count_t>(n)) refuse("cannot read " + input->path);
            for (std::size_t c = 0; c < width; ++c, ++channel)
                if (channel < ins)
                    for (std::size_t j = 0; j < n; ++j)
                        in[static_cast<std::size_t>(channel)][j] = fileBlock[j * width + c];
        }
        plugin.process(inPtr.data(), outPtr.data(), static_cast<VstInt32>(n));
        for (std::size_t j = 0; j < n; ++j)
            for (std::size_t c = 0; c < picked.size(); ++c) interleaved[j * picked.size() + c] = pickedPtr[c][j];
        if (writeFrames(out, interleaved.data(), static_cast<sf_count_t>(n)) != static_cast<sf_count_t>(n))
            refuse("cannot write the output: " + std::string(sf_strerror(out)));
        meters.add(pickedPtr.data(), n);
        if (scope && pickedPtr.size() >= 2) scope->add(pickedPtr[0], pickedPtr[1], n);
        done += n;
        progress.update(done);
    }
    return {done, std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count()};
}

int run(int argc, char** argv) {
    Options o = parseArguments(argc, argv);
    if (o.demo) {
        if (o.output.empty()) o.output = "demo-decoded.wav";
        if (o.inputs.empty()) {
            const fs::path take = fs::path(o.output).parent_path() / "demo-take.wav";
            std::string error;
            if (!writeDemoTake(take.string(), 48000, 8.0, error)) refuse(error);
            std::printf("Synthesised a three-channel guitar take (mid, side, DI): %s\n", take.string().c_str());
            o.inputs.push_back(take.string());
        }
    }
    if (o.inputs.empty() && !o.listParams && o.savePreset.empty()) refuse(std::string("no input given\n\n") + kUsage);
    if (!o.inputs.empty() && o.output.empty()) refuse("no output given (-o FILE)");
    for (const std::string& path : {o.output, o.savePreset, o.scope}) checkNotExisting(path, o.overwrite);

    std::string error;
    const std::string pluginPath = o.plugin.empty() ? defaultPlugin() : o.plugin;
    auto module = vsthost::Module::load(pluginPath, error);
    if (!module) refuse(error);
    vsthost::Plugin plugin;
    plugin.recordCalls = false;
    if (!plugin.instantiate(module->entry())) refuse(pluginPath + " gave no plug-in instance");
    plugin.open();

    if (!o.preset.empty()) {
        std::vector<std::uint8_t> bytes;
        ProgramFile program;
        if (!readFile(o.preset, bytes, error) || !decodeProgramFile(bytes, program, error))
            refuse(o.preset + ": " + error);
        if (program.pluginId != plugin.effect()->uniqueID)
            refuse(o.preset + " is for the plug-in with id " + std::to_string(program.pluginId) + ", not " +
                   std::to_string(plugin.effect()->uniqueID));
        plugin.setChunk(program.chunk, true);
        if (!program.programName.empty()) plugin.setProgramName(program.programName);
    }
    for (const std::string& setting : o.params) {
        const std::size_t equals = setting.find('=');
        if (equals == std::string::npos) refuse("--param " + setting + ": write NAME=VALUE");
        VstInt32 index = 0;
        if (!findParameter(plugin, setting.substr(0, equals), index, error) ||
            !applyParameterValue(plugin, index, setting.substr(equals + 1), error))
            refuse(error);
    }
    if (o.listParams) std::fputs(listParameters(plugin).c_str(), stdout);

    if (!o.inputs.empty()) {
        std::vector<std::unique_ptr<InputFile>> inputs;
        int channels = 0;
        for (const std::string& path : o.inputs) {
            auto input = std::make_unique<InputFile>();
            input->path = path;
            input->file = sf_open(path.c_str(), SFM_READ, &input->info);
            if (!input->file) refuse("cannot read " + path + ": " + sf_strerror(nullptr));
            const SF_INFO& first = inputs.empty() ? input->info : inputs[0]->info;
            if (input->info.samplerate != first.samplerate)
                refuse(path + " has a sample rate of " + std::to_string(input->info.samplerate) + " Hz, " +
                       o.inputs[0] + " of " + std::to_string(first.samplerate) + " Hz: all inputs need the same rate");
            if (input->info.frames != first.frames)
                refuse(path + " is " + std::to_string(input->info.frames) + " frames long, " + o.inputs[0] + " " +
                       std::to_string(first.frames) + ": all inputs need the same length");
            channels += input->info.channels;
            inputs.push_back(std::move(input));
        }
        if (channels < plugin.numInputs())
            refuse("the inputs have " + std::to_string(channels) + " channel" + (channels == 1 ? "" : "s") +
                   ", the plug-in needs " + std::to_string(plugin.numInputs()) +
                   " (for the guitar decoder: mid, side and DI)");
        if (channels > plugin.numInputs())
            std::fprintf(stderr, "vstrender: the inputs have %d channels; the last %d are not used\n", channels,
                         channels - plugin.numInputs());
        if (o.useDouble && !plugin.canDoubleReplacing()) refuse("the plug-in cannot process in double precision");

        const std::vector<int> picked = parseOutputs(o.outputList, plugin.numOutputs());
        SF_INFO outInfo{};
        outInfo.samplerate = inputs[0]->info.samplerate;
        outInfo.channels = static_cast<int>(picked.size());
        outInfo.format = outputFormat(o, inputs[0]->info.format);
        if (!sf_format_check(&outInfo))
            refuse("the output format cannot hold these samples; choose another --format or --bits");
        const std::string temporary = o.output + ".partial";
        SNDFILE* out = sf_open(temporary.c_str(), SFM_WRITE, &outInfo);
        if (!out) refuse("cannot write " + o.output + ": " + sf_strerror(nullptr));
        if ((outInfo.format & SF_FORMAT_SUBMASK) != SF_FORMAT_FLOAT &&
            (outInfo.format & SF_FORMAT_SUBMASK) != SF_FORMAT_DOUBLE)
            sf_command(out, SFC_SET_CLIPPING, nullptr, SF_TRUE);

        plugin.setSampleRate(static_cast<float>(inputs[0]->info.samplerate));
        plugin.setBlockSize(o.blockSize);
        plugin.resume();
        Meters meters(picked.size());
        Scope scope;
        RenderResult result;
        try {
            result = o.useDouble ? render<double>(plugin, inputs, out, picked, o.blockSize, meters,
                                                  o.scope.empty() ? nullptr : &scope, o.quiet)
                                 : render<float>(plugin, inputs, out, picked, o.blockSize, meters,
                                                 o.scope.empty() ? nullptr : &scope, o.quiet);
        } catch (...) {
            sf_close(out);
            std::remove(temporary.c_str());
            throw;
        }
        plugin.suspend();
        const bool closed = sf_close(out) == 0;
        if (!closed || std::rename(temporary.c_str(), o.output.c_str()) != 0) {
            std::remove(temporary.c_str());
            refuse("cannot write " + o.output);
        }

        const double audioSeconds = static_cast<double>(result.frames) / outInfo.samplerate;
        std::printf("Rendered %s: %llu frames, %.2f s at %d Hz, in %.3f s (%.0fx real time)%s\n", o.output.c_str(),
                    static_cast<unsigned long long>(result.frames), audioSeconds, outInfo.samplerate, result.seconds,
                    result.seconds > 0 ? audioSeconds / result.seconds : 0.0, o.useDouble ? ", double precision" : "");
        for (std::size_t c = 0; c < picked.size(); ++c)
            std::printf("  output %d: peak %s, RMS %s\n", picked[c] + 1, formatDb(meters.peakDb(c)).c_str(),
                        formatDb(meters.rmsDb(c)).c_str());
        if (picked.size() >= 2)
            std::printf("  correlation of outputs %d and %d: %+.2f\n", picked[0] + 1, picked[1] + 1,
                        meters.correlation());
        if (!o.scope.empty()) {
            if (picked.size() < 2) refuse("--scope needs two outputs");
            const std::string partial = o.scope + ".partial";
            if (!scope.writePng(partial, meters.correlation(), error) ||
                std::rename(partial.c_str(), o.scope.c_str()) != 0) {
                std::remove(partial.c_str());
                refuse(error.empty() ? "cannot write " + o.scope : error);
            }
            std::printf("  vectorscope: %s\n", o.scope.c_str());
        }
    }

    if (!o.savePreset.empty()) {
        ProgramFile program;
        program.pluginId = plugin.effect()->uniqueID;
        program.pluginVersion = plugin.effect()->version;
        program.numPrograms = 1;
        program.programName = plugin.programName();
        program.chunk = plugin.getChunk(true);
        if (program.chunk.empty()) refuse("the plug-in has no state chunk to save");
        if (!writeFileAtomically(o.savePreset, encodeProgramFile(program), error)) refuse(error);
        std::printf("Saved the plug-in's state: %s\n", o.savePreset.c_str());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const Refusal& refusal) {
        std::fprintf(stderr, "vstrender: %s\n", refusal.message.c_str());
        return 2;
    }
}
