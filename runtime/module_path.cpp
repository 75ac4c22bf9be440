#include "runtime/text.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace vintrel {

std::string moduleDirectory() {
    std::string path;
#if defined(_WIN32)
    HMODULE self = nullptr;
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCSTR>(&moduleDirectory), &self)) {
        char buffer[MAX_PATH] = {};
        const DWORD n = GetModuleFileNameA(self, buffer, MAX_PATH);
        if (n > 0 && n < MAX_PATH) path.assign(buffer, n);
    }
#else
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&moduleDirectory), &info) != 0 && info.dli_fname != nullptr)
        path = info.dli_fname;
#endif
    const std::size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

}  // namespace vintrel
