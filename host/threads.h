// Threads for tests and hosts, on every target: the Windows toolchains use win32 threads, whose
// C++ library has no std::thread.
#pragma once

#include <cstdint>
#include <functional>

#include "runtime/thread_identity.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#include <thread>
#endif

namespace host {

using vintrel::currentThread;

#if defined(_WIN32)
inline DWORD WINAPI runWork(void* work) {
    (*static_cast<const std::function<void()>*>(work))();
    return 0;
}
#endif

// A thread that runs `work` from its start until join(), as a host's audio thread runs.
class Thread {
public:
    explicit Thread(std::function<void()> work) : work_(std::move(work)) {
#if defined(_WIN32)
        handle_ = CreateThread(nullptr, 0, runWork, &work_, 0, nullptr);
#else
        thread_ = std::thread(work_);
#endif
    }
    void join() {
#if defined(_WIN32)
        WaitForSingleObject(handle_, INFINITE);
        CloseHandle(handle_);
#else
        thread_.join();
#endif
    }

private:
    std::function<void()> work_;
#if defined(_WIN32)
    HANDLE handle_;
#else
    std::thread thread_;
#endif
};

// Runs `work` on a thread of its own and waits for it, as a host's audio thread runs a call.
inline void runOnAnotherThread(const std::function<void()>& work) { Thread(work).join(); }

}  // namespace host
