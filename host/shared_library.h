// A loaded plug-in module (a shared library or DLL), closed when it goes.
#pragma once

#include <memory>
#include <string>

namespace host {

class SharedLibrary {
public:
    // Null, with `error` saying why, when the system cannot load it.
    static std::unique_ptr<SharedLibrary> open(const std::string& path, std::string& error);
    ~SharedLibrary();
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    void* symbol(const char* name) const;  // null when the module does not export it
    const std::string& path() const { return path_; }

private:
    SharedLibrary() = default;
    void* handle_ = nullptr;
    std::string path_;
};

}  // namespace host
