// A double that the host's threads and the audio thread share: the host sets parameters and
// state on one thread while another processes. Every access is a relaxed atomic load or store,
// which is a plain move on x86 and ARM, so sharing costs nothing and is no data race.
#pragma once

#include <atomic>

namespace vintrel {

class SharedDouble {
public:
    SharedDouble() = default;
    SharedDouble(double v) : value(v) {}  // NOLINT: stands in for a double
    SharedDouble(const SharedDouble& other) : value(other.load()) {}
    SharedDouble& operator=(const SharedDouble& other) { return *this = other.load(); }
    SharedDouble& operator=(double v) {
        value.store(v, std::memory_order_relaxed);
        return *this;
    }
    operator double() const { return load(); }  // NOLINT: reads as a double
    double load() const { return value.load(std::memory_order_relaxed); }

private:
    std::atomic<double> value{0.0};
};
static_assert(std::atomic<double>::is_always_lock_free, "sharing must never take a lock");

// The same for a yes or no.
class SharedFlag {
public:
    SharedFlag() = default;
    SharedFlag(const SharedFlag& other) : value(other) {}
    SharedFlag& operator=(const SharedFlag& other) { return *this = static_cast<bool>(other); }
    SharedFlag& operator=(bool v) {
        value.store(v, std::memory_order_relaxed);
        return *this;
    }
    operator bool() const { return value.load(std::memory_order_relaxed); }  // NOLINT: reads as a bool

private:
    std::atomic<bool> value{false};
};
static_assert(sizeof(SharedDouble) == sizeof(double));

}  // namespace vintrel
