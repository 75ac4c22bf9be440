// Loudness of a stereo pair as EBU R 128 / ITU-R BS.1770 define it, measured by libebur128:
// integrated loudness, loudness range and true peak, in memory that does not grow with the take
// (its histogram mode). Work can be handed to a thread of its own, which takes blocks from a
// bounded queue while the caller reads and decodes the next ones.
#pragma once

#include <ebur128.h>

#include <cmath>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>


namespace take {

struct LoudnessResult {
    double integratedLufs = -HUGE_VAL;  // -inf: too short or too quiet to gate (under 400 ms above -70 LUFS)
    double rangeLu = 0;
    double truePeakDbtp = -HUGE_VAL;    // the louder channel's
};

class Loudness {
public:
    Loudness(int channels, int sampleRate);
    ~Loudness();
    Loudness(const Loudness&) = delete;
    Loudness& operator=(const Loudness&) = delete;

    // Interleaved frames.
    void add(const double* frames, std::size_t count);
    LoudnessResult result() const;

private:
    ebur128_state* state_;
    int channels_;
};

// The same measurement on a worker thread: `add` copies a block into the queue and returns,
// waiting only when the worker is that many blocks behind.
class LoudnessThread {
public:
    LoudnessThread(int channels, int sampleRate);
    ~LoudnessThread();
    void add(const double* frames, std::size_t count);
    // Waits for the queue to drain; the thread ends.
    LoudnessResult finish();

private:
    void work();

    Loudness loudness_;
    int channels_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::vector<double>> queue_;
    std::vector<std::vector<double>> spare_;  // blocks to reuse
    bool done_ = false;
    std::thread thread_;
};

}  // namespace take
