#include "tools/vstrender/inputs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "tools/vstrender/errors.h"
#include "tools/vstrender/files.h"

namespace vstrender {

namespace {

// Why a file cannot be read, in words.
std::string unreadable(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return "cannot read " + path + ": " + std::strerror(errno);
    if (S_ISDIR(st.st_mode)) return path + " is a folder, not an audio file";
    if (::access(path.c_str(), R_OK) != 0) return "cannot read " + path + ": " + std::strerror(errno);
    return "cannot read " + path + ": it is not an audio file libsndfile knows, or its header is damaged";
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

}  // namespace

Inputs openInputs(const Options& o) {
    Inputs inputs;
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

void checkChannelCount(const Inputs& inputs, int pluginInputs) {
    int channels = 0;
    for (auto& input : inputs) channels += input->info.channels;
    if (channels < pluginInputs)
        refuse("the inputs have " + std::to_string(channels) + " channel" + (channels == 1 ? "" : "s") +
               ", the plug-in needs " + std::to_string(pluginInputs) + " (for the guitar decoder: mid, side and DI)");
    if (channels > pluginInputs)
        warn("the inputs have " + std::to_string(channels) + " channels and the plug-in takes " +
             std::to_string(pluginInputs) + ": " +
             (channels - pluginInputs > 1
                  ? "channels " + std::to_string(pluginInputs + 1) + " to " + std::to_string(channels) + " are left out"
                  : "channel " + std::to_string(channels) + " is left out"));
}

}  // namespace vstrender
