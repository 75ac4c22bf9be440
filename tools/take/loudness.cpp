#include "tools/take/loudness.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <stdexcept>
#include <string>

namespace take {

namespace {
constexpr std::size_t kQueuedBlocks = 32;  // how far the worker may fall behind
// The true peak is read at this rate at least: four times 48 kHz, as BS.1770 oversamples it,
// and the same for every rate below (ffmpeg's meter does the same).
constexpr int kTruePeakRate = 192000;
}

Loudness::Loudness(int channels, int sampleRate)
    : state_(ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(sampleRate),
                          EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_HISTOGRAM)),
      channels_(channels),
      peaks_(static_cast<std::size_t>(channels), 0.0) {
    if (!state_) throw std::bad_alloc();
    if (sampleRate >= kTruePeakRate) return;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    soxr_error_t error = nullptr;
    oversampler_ = soxr_create(sampleRate, kTruePeakRate, static_cast<unsigned>(channels),
                               &error, &io, &quality, nullptr);
    if (error) throw std::runtime_error(std::string("cannot oversample for the true peak: ") + error);
}

Loudness::~Loudness() {
    ebur128_destroy(&state_);
    if (oversampler_) soxr_delete(oversampler_);
}

void Loudness::add(const double* frames, std::size_t count) {
    ebur128_add_frames_double(state_, frames, count);
    oversample(frames, count);
}

// The peak of each channel, oversampled; a null block drains the oversampler's tail.
void Loudness::oversample(const double* frames, std::size_t count) {
    const auto channels = static_cast<std::size_t>(channels_);
    auto take = [&](const double* samples, std::size_t n) {
        for (std::size_t j = 0; j < n; ++j)
            for (std::size_t c = 0; c < channels; ++c) peaks_[c] = std::max(peaks_[c], std::abs(samples[j * channels + c]));
    };
    if (!oversampler_) {
        if (frames) take(frames, count);
        return;
    }
    oversampled_.resize(channels * (kTruePeakRate / 8000 * count + 4096));
    const std::size_t room = oversampled_.size() / channels;
    for (;;) {
        std::size_t used = 0, made = 0;
        if (soxr_process(oversampler_, frames, count, &used, oversampled_.data(), room, &made)) break;
        take(oversampled_.data(), made);
        if (frames) {
            frames += used * channels;
            count -= used;
            if (count == 0 && made < room) return;
        } else if (made == 0) {
            return;
        }
    }
}

LoudnessResult Loudness::finish() {
    oversample(nullptr, 0);
    LoudnessResult r;
    if (ebur128_loudness_global(state_, &r.integratedLufs) != EBUR128_SUCCESS) r.integratedLufs = -HUGE_VAL;
    if (ebur128_loudness_range(state_, &r.rangeLu) != EBUR128_SUCCESS) r.rangeLu = 0;
    const double peak = *std::max_element(peaks_.begin(), peaks_.end());
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
    return loudness_.finish();
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
