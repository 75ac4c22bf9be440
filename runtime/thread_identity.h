// The calling thread's identity, without an allocation (the first use of thread-local storage
// may allocate) and without std::thread, which the Windows toolchains' C++ library lacks.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#endif

namespace vintrel {

inline std::uintptr_t currentThread() {
#if defined(_WIN32)
    return static_cast<std::uintptr_t>(GetCurrentThreadId());
#else
    return reinterpret_cast<std::uintptr_t>(reinterpret_cast<void*>(pthread_self()));
#endif
}

}  // namespace vintrel
