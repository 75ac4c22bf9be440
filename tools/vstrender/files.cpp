#include "tools/vstrender/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "tools/vstrender/errors.h"

namespace fs = std::filesystem;

namespace vstrender {

void TemporaryFiles::add(const std::string& path) {
    for (auto& slot : slots_)
        if (slot[0] == '\0' && path.size() < sizeof slot) {
            std::memcpy(slot, path.c_str(), path.size() + 1);
            return;
        }
}

void TemporaryFiles::forget(const std::string& path) {
    for (auto& slot : slots_)
        if (path == slot) slot[0] = '\0';
}

void TemporaryFiles::removeAll() {
    for (auto& slot : slots_)
        if (slot[0] != '\0') {
            unlink(slot);
            slot[0] = '\0';
        }
}

void TemporaryFiles::onSignal(int signal) {
    removeAll();
    _exit(128 + signal);
}

namespace {

// Every place the run will write must be writable before the work starts; a probe file under
// the temporary name shows it, with the system's reason when not.
void checkWritable(const std::string& path) {
    const std::string probe = path + ".partial";
    TemporaryFiles::add(probe);  // a signal during the probe removes it too
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) refuse("cannot write " + path + ": " + std::strerror(errno));
    ::close(fd);
    ::unlink(probe.c_str());
    TemporaryFiles::forget(probe);
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

}  // namespace

void checkPlaces(const Options& o) {
    for (const std::string& path : {o.output, o.savePreset, o.scope, o.plot}) {
        if (path.empty() || path == "-") continue;
        checkNotAnInput(path, o);
        std::error_code e;
        if (!o.overwrite && fs::exists(path, e)) refuse(path + " exists; add --overwrite to replace it");
        checkWritable(path);
    }
}

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

std::string temporaryFile(const char* purpose) {
    char name[64];
    std::snprintf(name, sizeof name, "/tmp/vstrender-%s-XXXXXX", purpose);
    const int fd = mkstemp(name);
    if (fd < 0) return "";
    ::close(fd);
    TemporaryFiles::add(name);
    return name;
}

std::string copyStandardInput() {
    const std::string name = temporaryFile("stdin");
    if (name.empty()) fail(std::string("cannot keep standard input: ") + std::strerror(errno));
    const int fd = ::open(name.c_str(), O_WRONLY | O_TRUNC);
    if (fd < 0) fail(std::string("cannot keep standard input: ") + std::strerror(errno));
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

}  // namespace vstrender
