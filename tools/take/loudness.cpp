#include "tools/take/loudness.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace take {

namespace {
constexpr std::size_t kQueuedBlocks = 32;  // how far the worker may fall behind
}

Loudness::Loudness(int channels, int sampleRate)
    : state_(ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(sampleRate),
                          EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_TRUE_PEAK | EBUR128_MODE_HISTOGRAM)),
      channels_(channels) {
    if (!state_) throw std::bad_alloc();
}

Loudness::~Loudness() { ebur128_destroy(&state_); }

void Loudness::add(const double* frames, std::size_t count) { ebur128_add_frames_double(state_, frames, count); }

LoudnessResult Loudness::result() const {
    LoudnessResult r;
    if (ebur128_loudness_global(state_, &r.integratedLufs) != EBUR128_SUCCESS) r.integratedLufs = -HUGE_VAL;
    if (ebur128_loudness_range(state_, &r.rangeLu) != EBUR128_SUCCESS) r.rangeLu = 0;
    double peak = 0.0;
    for (int c = 0; c < channels_; ++c) {
        double channelPeak = 0.0;
        if (ebur128_true_peak(state_, static_cast<unsigned>(c), &channelPeak) == EBUR128_SUCCESS)
            peak = std::max(peak, channelPeak);
    }
    r.truePeakDbtp = peak > 0.0 ? 20.0 * std::log10(peak) : -HUGE_VAL;
    return r;
}

LoudnessThread::LoudnessThread(int channels, int sampleRate)
    : loudness_(channels, sampleRate), channels_(channels), thread_([this] { work(); }) {}

LoudnessThread::~LoudnessThread() {
    if (thread_.joinable()) finish();
}

void LoudnessThread::add(const double* frames, std::size_t count) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return queue_.size() < kQueuedBlocks; });
    std::vector<double> block;
    if (!spare_.empty()) {
        block = std::move(spare_.back());
        spare_.pop_back();
    }
    block.assign(frames, frames + count * static_cast<std::size_t>(channels_));
    queue_.push_back(std::move(block));
    changed_.notify_all();
}

LoudnessResult LoudnessThread::finish() {
    {
        std::lock_guard lock(mutex_);
        done_ = true;
        changed_.notify_all();
    }
    thread_.join();
    return loudness_.result();
}

void LoudnessThread::work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return done_ || !queue_.empty(); });
        if (queue_.empty()) return;  // done, and nothing left
        std::vector<double> block = std::move(queue_.front());
        queue_.pop_front();
        changed_.notify_all();
        lock.unlock();
        loudness_.add(block.data(), block.size() / static_cast<std::size_t>(channels_));
        lock.lock();
        spare_.push_back(std::move(block));
    }
}

}  // namespace take
