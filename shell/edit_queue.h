// Edits from the editor's thread to the thread that tells the host (CLAP hears them as events
// of a processing call, or of a flush): a single-producer, single-consumer ring without locks
// or allocation. When it is full an edit's notice is dropped, not its effect on the sound.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>

namespace shell {

struct EditNotice {
    enum Kind : unsigned char { Begin, Value, End } kind;
    int parameter;
    double value;  // display units
};

class EditQueue {
public:
    bool push(const EditNotice& notice) {
        const std::size_t w = written_.load(std::memory_order_relaxed);
        if (w - read_.load(std::memory_order_acquire) >= kSize) return false;
        ring_[w % kSize] = notice;
        written_.store(w + 1, std::memory_order_release);
        return true;
    }
    bool pop(EditNotice& notice) {
        const std::size_t r = read_.load(std::memory_order_relaxed);
        if (r == written_.load(std::memory_order_acquire)) return false;
        notice = ring_[r % kSize];
        read_.store(r + 1, std::memory_order_release);
        return true;
    }
    bool empty() const { return read_.load(std::memory_order_acquire) == written_.load(std::memory_order_acquire); }

private:
    static constexpr std::size_t kSize = 1024;
    std::array<EditNotice, kSize> ring_{};
    std::atomic<std::size_t> written_{0}, read_{0};
};

}  // namespace shell
