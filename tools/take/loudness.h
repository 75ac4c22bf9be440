// Loudness of a stereo pair as EBU R 128 / ITU-R BS.1770 define it: integrated loudness and
// loudness range measured by libebur128 (its histogram mode: memory that does not grow with
// the take), and the true peak as the largest sample of the signal oversampled to 192 kHz (four
// times 48 kHz) by libsoxr. libebur128's own true peak uses a short interpolation filter that
// reads bright takes (a pickup's string noise) up to 0.3 dB low.
// Work can be handed to a thread of its own, which takes blocks from a bounded queue while the
// caller reads and decodes the next ones.
#pragma once

#include <ebur128.h>
#include <soxr.h>

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
    // After the last frames: the oversampler's tail is taken in.
    LoudnessResult finish();

private:
    void oversample(const double* frames, std::size_t count);

    ebur128_state* state_;
    soxr_t oversampler_ = nullptr;  // null where the rate is high enough as it is
    int channels_;
    std::vector<double> oversampled_;
    std::vector<double> peaks_;
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
