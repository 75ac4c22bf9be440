#include "host/shared_library.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace host {

std::unique_ptr<SharedLibrary> SharedLibrary::open(const std::string& path, std::string& error) {
    std::unique_ptr<SharedLibrary> library(new SharedLibrary);
    library->path_ = path;
#if defined(_WIN32)
    library->handle_ = LoadLibraryA(path.c_str());
    if (library->handle_ == nullptr) {
        error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
        return nullptr;
    }
#else
    library->handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library->handle_ == nullptr) {
        const char* why = dlerror();
        error = "cannot load " + path + ": " + (why ? why : "unknown error");
        return nullptr;
    }
#endif
    return library;
}

SharedLibrary::~SharedLibrary() {
    if (handle_ == nullptr) return;
#if defined(_WIN32)
    FreeLibrary(static_cast<HMODULE>(handle_));
#else
    dlclose(handle_);
#endif
}

void* SharedLibrary::symbol(const char* name) const {
#if defined(_WIN32)
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
#else
    return dlsym(handle_, name);
#endif
}

}  // namespace host
