// The places the renderer writes: checked before any work, written under temporary names,
// moved into place when complete and removed on a failure or a signal.
#pragma once

#include <string>

#include "tools/vstrender/options.h"

namespace vstrender {

// Files being written, removed when the run fails or a signal ends it. Plain arrays: the
// signal handler may only call async-signal-safe functions.
class TemporaryFiles {
public:
    static void add(const std::string& path);
    static void forget(const std::string& path);
    static void removeAll();
    static void onSignal(int signal);

private:
    static inline char slots_[8][4096] = {};
};

// Before a frame is read: every place to write is writable, none is an input, and none exists
// unless --overwrite says so.
void checkPlaces(const Options& o);

// Moves a finished temporary file into place, or onto standard output for "-".
void publish(const std::string& temporary, const std::string& path);

// A temporary file for standard input or output, registered for removal.
std::string temporaryFile(const char* purpose);

// Standard input, copied to a temporary file first so any format can be read from it.
std::string copyStandardInput();

}  // namespace vstrender
