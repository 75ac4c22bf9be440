// vstrender: runs a VST 2 plug-in offline over audio files, by default the guitar decoder.
// Its steps: read the options, load the plug-in, check every option and every place it will
// write, open the inputs, render, report, save. Nothing is written before everything is checked,
// and nothing half-written stays: files are written under temporary names, removed on any
// failure and on SIGINT, SIGTERM or SIGHUP.
#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
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
    "  --preset FILE.fxp     load the plug-in's state from a program file\n"
    "  --save-preset FILE    save the plug-in's state as a program file\n"
    "  --block-size N        frames per processing call (default 512)\n"
    "  --double              process in double precision\n"
    "  --plugin PATH         the plug-in module (default: the guitar decoder)\n"
    "  --scope FILE.png      draw vectorscopes of outputs 1 and 2 (and, for the guitar decoder, of the\n"
    "                        plain mid/side decode beside it) with levels and correlation\n"
    "  --demo                synthesise a three-channel guitar take and decode it\n"
    "  -q, --quiet           no progress bar and no summary\n"
    "  --version             print the version\n"
    "\n"
    "Options take their value as the next word or after '=' (--outputs=1,2). Exit status: 0 done,\n"
    "1 failed while working (unreadable or damaged input, a write that failed, clipping with\n"
    "--on-clip error), 2 the command cannot be carried out as given.\n";

// A command that cannot be carried out as given (status 2) or work that failed (status 1).
struct Failure {
    int status;
    std::string message;
};
[[noreturn]] void refuse(const std::string& message) { throw Failure{2, message}; }
[[noreturn]] void fail(const std::string& message) { throw Failure{1, message}; }

void warn(const std::string& message) { std::fprintf(stderr, "vstrender: warning: %s\n", message.c_str()); }

// Files being written, removed when the run fails or a signal ends it. Plain arrays: the
// signal handler may only call async-signal-safe functions.
class TemporaryFiles {
public:
    static void add(const std::string& path) {
        for (auto& slot : slots_)
            if (slot[0] == '\0' && path.size() < sizeof slot) {
                std::memcpy(slot, path.c_str(), path.size() + 1);
                return;
            }
    }
    static void forget(const std::string& path) {
        for (auto& slot : slots_)
            if (path == slot) slot[0] = '\0';
    }
    static void removeAll() {
        for (auto& slot : slots_)
            if (slot[0] != '\0') {
                unlink(slot);
                slot[0] = '\0';
            }
    }
    static void onSignal(int signal) {
        removeAll();
        _exit(128 + signal);
    }

private:
    static inline char slots_[8][4096] = {};
};

struct Options {
    std::vector<std::string> inputs;
    std::string output, outputList, format, bits, preset, savePreset, plugin, scope, onClip = "warn";
    std::vector<std::string> params;
    int blockSize = 512;
    bool overwrite = false, listParams = false, useDouble = false, demo = false, quiet = false, allowShort = false;
};

Options parseArguments(int argc, char** argv) {
    Options o;
    std::map<std::string, int> seen;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        std::optional<std::string> attached;
        if (a.rfind("--", 0) == 0 && a.find('=') != std::string::npos) {
            attached = a.substr(a.find('=') + 1);
            a = a.substr(0, a.find('='));
        }
        auto value = [&]() -> std::string {
            if (attached) return *attached;
            if (i + 1 >= argc) refuse(a + " needs a value");
            return argv[++i];
        };
        // Options that take one value or are switches may be given once.
        auto single = [&](std::string& into) {
            if (++seen[a] > 1) refuse(a + " is given twice");
            into = value();
        };
        auto flag = [&](bool& into) {
            if (attached) refuse(a + " takes no value");
            if (++seen[a] > 1) refuse(a + " is given twice");
            into = true;
        };
        if (a == "-i")
            o.inputs.push_back(value());
        else if (a == "-o")
            single(o.output);
        else if (a == "--outputs")
            single(o.outputList);
        else if (a == "--format")
            single(o.format);
        else if (a == "--bits")
            single(o.bits);
        else if (a == "--on-clip") {
            single(o.onClip);
            if (o.onClip != "warn" && o.onClip != "error") refuse("--on-clip takes warn or error, not " + o.onClip);
        } else if (a == "--allow-short")
            flag(o.allowShort);
        else if (a == "--overwrite")
            flag(o.overwrite);
        else if (a == "--param")
            o.params.push_back(value());
        else if (a == "--list-params")
            flag(o.listParams);
        else if (a == "--preset")
            single(o.preset);
        else if (a == "--save-preset")
            single(o.savePreset);
        else if (a == "--block-size") {
            std::string n;
            single(n);
            char* end = nullptr;
            const long size = std::strtol(n.c_str(), &end, 10);
            if (n.empty() || *end != '\0' || size < 1 || size > 1 << 20)
                refuse("--block-size must be a whole number from 1 to 1048576");
            o.blockSize = static_cast<int>(size);
        } else if (a == "--double")
            flag(o.useDouble);
        else if (a == "--plugin")
            single(o.plugin);
        else if (a == "--scope")
            single(o.scope);
        else if (a == "--demo")
            flag(o.demo);
        else if (a == "-q" || a == "--quiet")
            o.quiet = true;
        else if (a == "--version") {
            std::printf("vstrender %s\n", VINTREL_VERSION);
            std::exit(0);
        } else if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else
            refuse("unknown option " + a);
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

// Output containers by extension and --format name: the subtype 0 keeps the input's.
struct Container {
    const char* name;
    int major, subtype;
};
const Container kContainers[] = {
    {"wav", SF_FORMAT_WAV, 0},   {"aiff", SF_FORMAT_AIFF, 0}, {"aif", SF_FORMAT_AIFF, 0},
    {"flac", SF_FORMAT_FLAC, 0}, {"caf", SF_FORMAT_CAF, 0},   {"w64", SF_FORMAT_W64, 0},
    {"au", SF_FORMAT_AU, 0},     {"ogg", SF_FORMAT_OGG, SF_FORMAT_VORBIS}, {"oga", SF_FORMAT_OGG, SF_FORMAT_VORBIS},
    {"opus", SF_FORMAT_OGG, SF_FORMAT_OPUS}, {"mp3", SF_FORMAT_MPEG, SF_FORMAT_MPEG_LAYER_III},
};

// The containers this libsndfile can write, for messages.
std::string writableNames() {
    std::string names;
    for (const Container& c : kContainers) {
        SF_INFO probe{};
        probe.samplerate = 48000;
        probe.channels = 2;
        probe.format = c.major | (c.subtype ? c.subtype : SF_FORMAT_PCM_16);
        if (!sf_format_check(&probe)) continue;
        names += (names.empty() ? "." : ", .") + std::string(c.name);
    }
    return names;
}

const Container* containerNamed(const std::string& name) {
    for (const Container& c : kContainers)
        if (lower(name) == c.name) return &c;
    return nullptr;
}

bool isPcm(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8: case SF_FORMAT_PCM_U8: case SF_FORMAT_PCM_16: case SF_FORMAT_PCM_24:
        case SF_FORMAT_PCM_32: case SF_FORMAT_ALAW: case SF_FORMAT_ULAW: return true;
        default: return false;
    }
}

// The output's container from its name and --format, which must agree; its subtype from
// --bits, else the input's where the container holds it.
int outputFormat(const Options& o, int inputFormat) {
    const Container* byName = nullptr;
    const std::string extension = o.output == "-" ? "" : fs::path(o.output).extension().string();
    if (!extension.empty()) {
        byName = containerNamed(extension.substr(1));
        if (byName == nullptr) refuse("cannot write " + extension + " files; vstrender writes " + writableNames());
    }
    const Container* byFormat = nullptr;
    if (!o.format.empty()) {
        byFormat = containerNamed(o.format);
        if (byFormat == nullptr) refuse("unknown --format " + o.format + "; vstrender writes " + writableNames());
        if (byName != nullptr && (byName->major != byFormat->major || byName->subtype != byFormat->subtype))
            refuse("--format " + o.format + " contradicts the name " + o.output + "; give one or the other");
    }
    const Container* c = byFormat ? byFormat : byName;
    if (c == nullptr && o.output == "-") c = containerNamed("wav");
    if (c == nullptr)
        refuse(o.output + " has no extension to name its format: call it .wav, .flac, ... or give --format");
    int subtype = c->subtype;
    if (subtype == 0) {
        subtype = inputFormat & SF_FORMAT_SUBMASK;
        if (!isPcm(inputFormat) && subtype != SF_FORMAT_FLOAT && subtype != SF_FORMAT_DOUBLE) subtype = SF_FORMAT_PCM_24;
        if (o.bits == "16") subtype = SF_FORMAT_PCM_16;
        else if (o.bits == "24") subtype = SF_FORMAT_PCM_24;
        else if (o.bits == "32") subtype = SF_FORMAT_PCM_32;
        else if (o.bits == "float" || o.bits == "32f") subtype = SF_FORMAT_FLOAT;
        else if (!o.bits.empty()) refuse("unknown --bits " + o.bits + " (16, 24, 32 or float)");
        // A container that cannot hold the input's samples (FLAC and floats) takes 24 bits.
        SF_INFO probe{};
        probe.samplerate = 48000, probe.channels = 1, probe.format = c->major | subtype;
        if (o.bits.empty() && !sf_format_check(&probe)) subtype = SF_FORMAT_PCM_24;
    } else if (!o.bits.empty()) {
        refuse("--bits does not apply to ." + std::string(c->name) + ", a compressed format");
    }
    return c->major | subtype;
}

// Why a file cannot be read, in words.
std::string unreadable(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return "cannot read " + path + ": " + std::strerror(errno);
    if (S_ISDIR(st.st_mode)) return path + " is a folder, not an audio file";
    if (::access(path.c_str(), R_OK) != 0) return "cannot read " + path + ": " + std::strerror(errno);
    return "cannot read " + path + ": it is not an audio file libsndfile knows, or its header is damaged";
}

struct InputFile {
    std::string path, name;  // name as the user gave it
    SNDFILE* file = nullptr;
    SF_INFO info{};
    std::uint64_t announced = 0;  // the frames the header promises, which a cut file lacks
    ~InputFile() {
        if (file) sf_close(file);
    }
};

// Standard input, copied to a temporary file first so any format can be read from it.
std::string copyStandardInput() {
    char name[] = "/tmp/vstrender-stdin-XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) fail(std::string("cannot keep standard input: ") + std::strerror(errno));
    TemporaryFiles::add(name);
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(0, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) fail(std::string("cannot read standard input: ") + std::strerror(errno));
        if (n == 0) break;
        if (::write(fd, buffer, static_cast<std::size_t>(n)) != n) fail(std::string("cannot keep standard input: ") + std::strerror(errno));
    }
    ::close(fd);
    return name;
}

// libsndfile reads a cut WAV or AIFF as far as it goes and counts only those frames; its log
// still tells what the header promised ("data : 3456000 (should be 99956)").
std::uint64_t announcedFrames(SNDFILE* file, const SF_INFO& info) {
    char log[8192] = {};
    sf_command(file, SFC_GET_LOG_INFO, log, sizeof log);
    const char* at = log;
    while ((at = std::strstr(at, "(should be ")) != nullptr) {
        const char* line = at;
        while (line > log && line[-1] != '\n') --line;
        const std::string label(line, static_cast<std::size_t>(std::strcspn(line, " :")));
        unsigned long long claimed = 0, present = 0;
        if ((label == "data" || label == "SSND") &&
            std::sscanf(line + label.size(), " : %llu (should be %llu)", &claimed, &present) == 2 && present > 0 &&
            claimed > present)
            return static_cast<std::uint64_t>(std::llround(static_cast<double>(info.frames) * claimed / present));
        at += 11;
    }
    return static_cast<std::uint64_t>(info.frames);
}

std::vector<std::unique_ptr<InputFile>> openInputs(const Options& o) {
    std::vector<std::unique_ptr<InputFile>> inputs;
    for (const std::string& given : o.inputs) {
        auto input = std::make_unique<InputFile>();
        input->name = given == "-" ? "standard input" : given;
        input->path = given == "-" ? copyStandardInput() : given;
        input->file = sf_open(input->path.c_str(), SFM_READ, &input->info);
        if (!input->file) fail(given == "-" ? "standard input is not an audio file libsndfile knows" : unreadable(given));
        input->announced = announcedFrames(input->file, input->info);
        const SF_INFO& first = inputs.empty() ? input->info : inputs[0]->info;
        if (input->info.samplerate != first.samplerate)
            refuse(input->name + " has a sample rate of " + std::to_string(input->info.samplerate) + " Hz, " +
                   inputs[0]->name + " of " + std::to_string(first.samplerate) + " Hz: all inputs need the same rate");
        if (input->info.frames != first.frames)
            refuse(input->name + " is " + std::to_string(input->info.frames) + " frames long, " + inputs[0]->name +
                   " " + std::to_string(first.frames) + ": all inputs need the same length");
        inputs.push_back(std::move(input));
    }
    return inputs;
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
        for (int k = 0; k < std::min(available, 2); ++k) picked.push_back(k);  // the decoded pair
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

// Every place the run will write must be writable before the work starts; a probe file under
// the temporary name shows it, with the system's reason when not.
void checkWritable(const std::string& path) {
    const std::string probe = path + ".partial";
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) refuse("cannot write " + path + ": " + std::strerror(errno));
    ::close(fd);
    ::unlink(probe.c_str());
}

// An output that is one of the inputs, by device and inode, whatever the names.
void checkNotAnInput(const std::string& output, const Options& o) {
    struct stat out {};
    if (output.empty() || output == "-" || ::stat(output.c_str(), &out) != 0) return;
    for (const std::string& input : o.inputs) {
        struct stat in {};
        if (input != "-" && ::stat(input.c_str(), &in) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino)
            refuse(output + " is the input " + input + "; write the result to another file");
    }
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

// What the render needs beside the plug-in: where it writes, what it measures.
struct Render {
    vsthost::Plugin* plain = nullptr;  // the plain mid/side decode, for the A/B scope
    SNDFILE* out = nullptr;
    std::vector<int> picked;
    int blockSize = 512;
    bool countClips = false, quiet = false;
    Meters* meters = nullptr;
    Scope *scope = nullptr, *plainScope = nullptr;
};

struct RenderResult {
    std::uint64_t frames = 0;
    double seconds = 0.0;
    std::vector<std::uint64_t> clipped;
};

// Streams the inputs through the plug-in in blocks: memory does not grow with the file. Stops
// where an input ends, which is before its header says when the file is damaged.
template <class Sample>
RenderResult render(vsthost::Plugin& plugin, std::vector<std::unique_ptr<InputFile>>& inputs, const Render& r) {
    const int ins = plugin.numInputs(), outs = plugin.numOutputs();
    const auto block = static_cast<std::size_t>(r.blockSize);
    auto channels = [&](int n) {
        return std::vector<std::vector<Sample>>(static_cast<std::size_t>(std::max(n, 1)), std::vector<Sample>(block));
    };
    auto in = channels(ins), outBuffers = channels(outs), plainBuffers = channels(outs);
    std::vector<Sample*> inPtr, outPtr, plainPtr, pickedPtr;
    for (auto& c : in) inPtr.push_back(c.data());
    for (auto& c : outBuffers) outPtr.push_back(c.data());
    for (auto& c : plainBuffers) plainPtr.push_back(c.data());
    for (int k : r.picked) pickedPtr.push_back(outBuffers[static_cast<std::size_t>(k)].data());
    std::vector<Sample> interleaved(block * r.picked.size()), fileBlock;

    RenderResult result;
    result.clipped.assign(r.picked.size(), 0);
    const std::uint64_t total = static_cast<std::uint64_t>(inputs[0]->info.frames);
    Progress progress(!r.quiet, total);
    const auto started = std::chrono::steady_clock::now();
    while (result.frames < total) {
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(block, total - result.frames));
        int channel = 0;
        for (auto& input : inputs) {
            const auto width = static_cast<std::size_t>(input->info.channels);
            fileBlock.assign(n * width, Sample(0));
            const sf_count_t got = readFrames(input->file, fileBlock.data(), static_cast<sf_count_t>(n));
            n = std::min(n, static_cast<std::size_t>(std::max<sf_count_t>(got, 0)));
            for (std::size_t c = 0; c < width; ++c, ++channel)
                if (channel < ins)
                    for (std::size_t j = 0; j < n; ++j) in[static_cast<std::size_t>(channel)][j] = fileBlock[j * width + c];
        }
        if (n == 0) break;
        plugin.process(inPtr.data(), outPtr.data(), static_cast<VstInt32>(n));
        if (r.plain) r.plain->process(inPtr.data(), plainPtr.data(), static_cast<VstInt32>(n));
        for (std::size_t j = 0; j < n; ++j)
            for (std::size_t c = 0; c < r.picked.size(); ++c) {
                const Sample v = pickedPtr[c][j];
                interleaved[j * r.picked.size() + c] = v;
                if (r.countClips && std::fabs(static_cast<double>(v)) > 1.0) ++result.clipped[c];
            }
        if (writeFrames(r.out, interleaved.data(), static_cast<sf_count_t>(n)) != static_cast<sf_count_t>(n))
            fail("cannot write the output: " + std::string(sf_strerror(r.out)));
        r.meters->add(pickedPtr.data(), n);
        if (r.scope && outs >= 2) r.scope->add(outPtr[0], outPtr[1], n);
        if (r.plainScope && outs >= 2) r.plainScope->add(plainPtr[0], plainPtr[1], n);
        result.frames += n;
        progress.update(result.frames);
        if (n < std::min<std::uint64_t>(block, total - (result.frames - n))) break;  // an input ended early
    }
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return result;
}

// The plug-in's parameter values in words, those that differ from a fresh instance's.
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

struct Plugin {
    std::unique_ptr<vsthost::Module> module;
    std::unique_ptr<vsthost::Plugin> instance;
};

Plugin loadPlugin(const std::string& path) {
    Plugin p;
    std::string error;
    p.module = vsthost::Module::load(path, error);
    if (!p.module) refuse(error);
    p.instance = std::make_unique<vsthost::Plugin>();
    p.instance->recordCalls = false;
    if (!p.instance->instantiate(p.module->entry())) refuse(path + " gave no plug-in instance");
    p.instance->open();
    return p;
}

std::unique_ptr<vsthost::Plugin> anotherInstance(const Plugin& p) {
    auto instance = std::make_unique<vsthost::Plugin>();
    instance->recordCalls = false;
    if (!instance->instantiate(p.module->entry())) fail("the plug-in gave no second instance");
    instance->open();
    return instance;
}

void loadPreset(vsthost::Plugin& plugin, const std::string& path) {
    std::vector<std::uint8_t> bytes;
    ProgramFile program;
    std::string error;
    if (!readFile(path, bytes, error)) refuse(error);
    if (!decodeProgramFile(bytes, program, error)) refuse(path + " is not a program file this renderer reads: " + error);
    if (program.pluginId != plugin.effect()->uniqueID) {
        auto id = [](VstInt32 v) {
            std::string text;
            for (int shift = 24; shift >= 0; shift -= 8) {
                const char c = static_cast<char>((v >> shift) & 0xFF);
                text += std::isprint(static_cast<unsigned char>(c)) ? c : '?';
            }
            return "'" + text + "' (" + std::to_string(v) + ")";
        };
        refuse(path + " was saved by another plug-in, id " + id(program.pluginId) + "; this one is " +
               id(plugin.effect()->uniqueID) + ". Load it with --plugin and that plug-in's module");
    }
    plugin.setChunk(program.chunk, true);
    if (!program.programName.empty()) plugin.setProgramName(program.programName);
}

void applyParameters(vsthost::Plugin& plugin, const std::vector<std::string>& settings) {
    std::string error, note;
    for (const std::string& setting : settings) {
        const std::size_t equals = setting.find('=');
        if (equals == std::string::npos) refuse("--param " + setting + ": write NAME=VALUE");
        VstInt32 index = 0;
        note.clear();
        if (!findParameter(plugin, setting.substr(0, equals), index, error) ||
            !applyParameterValue(plugin, index, setting.substr(equals + 1), error, note))
            refuse(error);
        if (!note.empty()) warn(note);
    }
}

// Before a frame is read: every option, every place to write, every input's header.
void checkPlaces(const Options& o) {
    for (const std::string& path : {o.output, o.savePreset, o.scope}) {
        if (path.empty() || path == "-") continue;
        checkNotAnInput(path, o);
        std::error_code e;
        if (!o.overwrite && fs::exists(path, e)) refuse(path + " exists; add --overwrite to replace it");
        checkWritable(path);
    }
}

// Output 3 of the decoder carries the DI only when routed there: say how, if it is silent.
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

// Moves a finished temporary file into place, or onto standard output for "-".
void publish(const std::string& temporary, const std::string& path) {
    if (path == "-") {
        FILE* in = std::fopen(temporary.c_str(), "rb");
        if (!in) fail(std::string("cannot read back the output: ") + std::strerror(errno));
        char buffer[65536];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0)
            if (std::fwrite(buffer, 1, n, stdout) != n) fail(std::string("cannot write standard output: ") + std::strerror(errno));
        std::fclose(in);
        std::fflush(stdout);
        ::unlink(temporary.c_str());
    } else if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        fail("cannot write " + path + ": " + std::strerror(errno));
    }
    TemporaryFiles::forget(temporary);
}

int run(int argc, char** argv) {
    Options o = parseArguments(argc, argv);
    if (o.demo) {
        if (o.output.empty()) o.output = "demo-decoded.wav";
        if (o.inputs.empty()) {
            const fs::path take = fs::path(o.output).parent_path() / "demo-take.wav";
            std::string error;
            if (!writeDemoTake(take.string(), 48000, 8.0, error)) fail(error);
            if (!o.quiet) std::printf("Synthesised a three-channel guitar take (mid, side, DI): %s\n", take.string().c_str());
            o.inputs.push_back(take.string());
        }
    }
    if (o.inputs.empty() && !o.listParams && o.savePreset.empty()) refuse("no input given (-i FILE)");
    if (!o.inputs.empty() && o.output.empty()) refuse("no output given (-o FILE)");
    if (o.inputs.empty() && !o.output.empty()) refuse("-o " + o.output + " needs an input (-i FILE)");
    if (std::count(o.inputs.begin(), o.inputs.end(), "-") > 1) refuse("standard input can be only one of the inputs");
    // Reports go to standard error when the audio goes to standard output.
    FILE* report = o.output == "-" ? stderr : stdout;

    // A path with or without a slash is a file here, not a name for the loader to search.
    const std::string pluginPath = o.plugin.empty() ? defaultPlugin() : fs::absolute(o.plugin).string();
    Plugin p = loadPlugin(pluginPath);
    vsthost::Plugin& plugin = *p.instance;
    auto fresh = anotherInstance(p);
    if (!o.preset.empty()) loadPreset(plugin, o.preset);
    applyParameters(plugin, o.params);
    if (o.listParams) std::fputs(listParameters(plugin, *fresh).c_str(), report);
    if (o.useDouble && !plugin.canDoubleReplacing()) refuse("the plug-in cannot process in double precision");

    std::vector<int> picked = parseOutputs(o.outputList, plugin.numOutputs());
    if (!o.scope.empty() && plugin.numOutputs() < 2) refuse("--scope needs a plug-in with two outputs");
    checkPlaces(o);

    if (!o.inputs.empty()) {
        auto inputs = openInputs(o);
        int channels = 0;
        for (auto& input : inputs) channels += input->info.channels;
        if (channels < plugin.numInputs())
            refuse("the inputs have " + std::to_string(channels) + " channel" + (channels == 1 ? "" : "s") +
                   ", the plug-in needs " + std::to_string(plugin.numInputs()) +
                   " (for the guitar decoder: mid, side and DI)");
        if (channels > plugin.numInputs())
            warn("the inputs have " + std::to_string(channels) + " channels and the plug-in takes " +
                 std::to_string(plugin.numInputs()) + ": " +
                 (channels - plugin.numInputs() > 1 ? "channels " + std::to_string(plugin.numInputs() + 1) + " to " +
                                                          std::to_string(channels) + " are left out"
                                                    : "channel " + std::to_string(channels) + " is left out"));

        SF_INFO outInfo{};
        outInfo.samplerate = inputs[0]->info.samplerate;
        outInfo.channels = static_cast<int>(picked.size());
        outInfo.format = outputFormat(o, inputs[0]->info.format);
        if (!sf_format_check(&outInfo))
            refuse("the output format cannot hold these samples (" + std::to_string(picked.size()) +
                   " channels at " + std::to_string(outInfo.samplerate) + " Hz); choose another --format or --bits");
        const bool pcm = isPcm(outInfo.format) || (outInfo.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC;

        std::string temporary = o.output + ".partial";
        if (o.output == "-") {
            char name[] = "/tmp/vstrender-out-XXXXXX";
            const int fd = mkstemp(name);
            if (fd < 0) fail(std::string("cannot write standard output: ") + std::strerror(errno));
            ::close(fd);
            temporary = name;
        }
        TemporaryFiles::add(temporary);
        SNDFILE* out = sf_open(temporary.c_str(), SFM_WRITE, &outInfo);
        if (!out) fail("cannot write " + o.output + ": " + sf_strerror(nullptr));
        if (pcm) sf_command(out, SFC_SET_CLIPPING, nullptr, SF_TRUE);

        // For the guitar decoder's scope, the plain mid/side decode of the same take beside it.
        std::unique_ptr<vsthost::Plugin> plain;
        VstInt32 abIndex = 0;
        std::string error;
        if (!o.scope.empty() && findParameter(plugin, "A/B MS", abIndex, error)) {
            plain = anotherInstance(p);
            plain->setChunk(plugin.getChunk(), false);
            std::string note;
            if (!applyParameterValue(*plain, abIndex, "unprocessed", error, note)) plain.reset();
        }
        for (vsthost::Plugin* instance : {&plugin, plain.get()}) {
            if (!instance) continue;
            instance->setSampleRate(static_cast<float>(inputs[0]->info.samplerate));
            instance->setBlockSize(o.blockSize);
            instance->resume();
        }
        Meters meters(picked.size());
        Scope scope, plainScope;
        Render r;
        r.plain = plain.get();
        r.out = out;
        r.picked = picked;
        r.blockSize = o.blockSize;
        r.countClips = pcm;
        r.quiet = o.quiet;
        r.meters = &meters;
        r.scope = o.scope.empty() ? nullptr : &scope;
        r.plainScope = plain ? &plainScope : nullptr;
        const RenderResult result = o.useDouble ? render<double>(plugin, inputs, r) : render<float>(plugin, inputs, r);
        plugin.suspend();
        if (sf_close(out) != 0) fail("cannot write " + o.output);

        std::uint64_t announced = 0;
        for (auto& input : inputs) announced = std::max(announced, input->announced);
        if (result.frames < announced) {
            const double rate = outInfo.samplerate;
            char line[256];
            std::snprintf(line, sizeof line,
                          "the input ends after %.2f s of the %.2f s its header announces: the file is damaged or "
                          "cut short",
                          static_cast<double>(result.frames) / rate, static_cast<double>(announced) / rate);
            if (!o.allowShort) fail(std::string(line) + " (--allow-short renders what is there)");
            warn(std::string(line) + "; rendered what is there");
        }
        reportClipping(o, picked, result, meters, pcm);
        publish(temporary, o.output);

        if (!o.quiet) {
            const double audioSeconds = static_cast<double>(result.frames) / outInfo.samplerate;
            std::fprintf(report, "Rendered %s: %llu frames, %.2f s at %d Hz, in %.3f s (%.0fx real time)%s\n",
                         o.output == "-" ? "standard output" : o.output.c_str(),
                         static_cast<unsigned long long>(result.frames), audioSeconds, outInfo.samplerate,
                         result.seconds, result.seconds > 0 ? audioSeconds / result.seconds : 0.0,
                         o.useDouble ? ", double precision" : "");
            for (std::size_t c = 0; c < picked.size(); ++c)
                std::fprintf(report, "  output %d: peak %s, RMS %s\n", picked[c] + 1,
                             formatDb(meters.peakDb(c)).c_str(), formatDb(meters.rmsDb(c)).c_str());
            if (picked.size() >= 2)
                std::fprintf(report, "  correlation of outputs %d and %d: %+.2f\n", picked[0] + 1, picked[1] + 1,
                             meters.correlation());
        }
        warnSilentOutputs(plugin, picked, meters);

        if (!o.scope.empty()) {
            const std::string partial = o.scope + ".partial";
            TemporaryFiles::add(partial);
            std::vector<std::string> title = {"VECTORSCOPE  " + fs::path(inputs[0]->name).filename().string() +
                                                  (inputs.size() > 1 ? " AND " + std::to_string(inputs.size() - 1) + " MORE" : ""),
                                              "SETTINGS: " + changedSettings(plugin, *fresh)};
            std::vector<ScopePanel> panels = {{&scope, "OUTPUTS 1 AND 2, AS SET"}};
            if (plain) panels.push_back({&plainScope, "PLAIN MID/SIDE DECODE (A/B)"});
            if (!writeScopePicture(partial, title, panels, false, error)) fail(error);
            publish(partial, o.scope);
            if (!o.quiet) std::fprintf(report, "  vectorscope: %s\n", o.scope.c_str());
        }
    }

    if (!o.savePreset.empty()) {
        ProgramFile program;
        program.pluginId = plugin.effect()->uniqueID;
        program.pluginVersion = plugin.effect()->version;
        program.numPrograms = 1;
        program.programName = plugin.programName();
        program.chunk = plugin.getChunk(true);
        if (program.chunk.empty()) fail("the plug-in has no state chunk to save");
        std::string error;
        if (!writeFileAtomically(o.savePreset, encodeProgramFile(program), error)) fail(error);
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
