#include "tools/vstrender/formats.h"

#include <sndfile.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>

#include "tools/vstrender/errors.h"

namespace fs = std::filesystem;

namespace vstrender {

namespace {

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

}  // namespace

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

}  // namespace vstrender
