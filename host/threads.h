// Threads for tests and hosts, on every target: the Windows toolchains use win32 threads, whose
// C++ library has no std::thread.
#pragma once

#include <cstdint>
#include <functional>

#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#include <thread>
#endif

namespace host {

inline std::uintptr_t currentThread() {
#if defined(_WIN32)
    return static_cast<std::uintptr_t>(GetCurrentThreadId());
#else
    return reinterpret_cast<std::uintptr_t>(reinterpret_cast<void*>(pthread_self()));
#endif
}

// Runs `work` on a thread of its own and waits for it, as a host's audio thread runs a call.
inline void runOnAnotherThread(const std::function<void()>& work) {
#if defined(_WIN32)
    HANDLE thread = CreateThread(
        nullptr, 0, [](void* p) -> DWORD { (*static_cast<const std::function<void()>*>(p))(); return 0; },
        const_cast<std::function<void()>*>(&work), 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
#else
    std::thread(work).join();
#endif
}

}  // namespace host
