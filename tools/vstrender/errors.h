// How the renderer stops: a command that cannot be carried out as given (status 2) or work
// that failed (status 1), each one line on standard error; and warnings, which go on.
#pragma once

#include <cstdio>
#include <string>

namespace vstrender {

// A command that cannot be carried out as given (status 2) or work that failed (status 1).
struct Failure {
    int status;
    std::string message;
};
[[noreturn]] inline void refuse(const std::string& message) { throw Failure{2, message}; }
[[noreturn]] inline void fail(const std::string& message) { throw Failure{1, message}; }

inline void warn(const std::string& message) { std::fprintf(stderr, "vstrender: warning: %s\n", message.c_str()); }

}  // namespace vstrender
