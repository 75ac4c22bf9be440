// Takes for the DI's tone match: a microphone that hears the DI through a known response, and
// the measures the tests hold the match to.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "align/fft.h"
#include "tests/room_take.h"

namespace tonetake {

// The microphone's response to the strings against the pickup's, in dB: the body's resonance
// near 100 Hz, the pickup's harsh presence near 2.5 kHz taken down, the air's roll-off above.
inline double micResponseDb(double hz) {
    const double low = std::log2(hz / 100.0), mid = std::log2(hz / 2500.0);
    return 8.0 * std::exp(-low * low / 0.5) - 6.0 * std::exp(-mid * mid / 0.7) -
           10.0 * std::log10(1.0 + std::pow(hz / 6000.0, 4.0));
}

// x through a zero-phase magnitude response, applied to the whole signal by one transform.
inline std::vector<double> shaped(const std::vector<double>& x, int rate, double (*db)(double)) {
    std::size_t n = 4;
    while (n < 2 * x.size()) n *= 2;
    const align::Fft fft(n);
    std::vector<double> re(n, 0.0), im(n, 0.0);
    std::copy(x.begin(), x.end(), re.begin());
    fft.forward(re.data(), im.data());
    for (std::size_t k = 0; k < n; ++k) {
        const double hz = static_cast<double>(std::min(k, n - k)) * rate / static_cast<double>(n);
        const double g = hz > 0 ? std::pow(10.0, db(hz) / 20.0) : 1.0;
        re[k] *= g, im[k] *= g;
    }
    fft.inverse(re.data(), im.data());
    std::vector<double> y(x.size());
    for (std::size_t j = 0; j < y.size(); ++j) y[j] = re[j] / static_cast<double>(n);
    return y;
}

// Power in each third-octave band from 80 Hz to 10 kHz (centres 1 kHz times 2^(n/3)), in dB.
inline std::vector<double> thirdOctaves(const std::vector<double>& x, int rate) {
    std::size_t n = 4;
    while (n < x.size()) n *= 2;
    const align::Fft fft(n);
    std::vector<double> re(n, 0.0), im(n, 0.0);
    std::copy(x.begin(), x.end(), re.begin());
    fft.forward(re.data(), im.data());
    std::vector<double> bands;
    for (int b = -11; b <= 10; ++b) {
        const double centre = 1000.0 * std::pow(2.0, b / 3.0), edge = std::pow(2.0, 1.0 / 6.0);
        double power = 0;
        for (std::size_t k = 1; k < n / 2; ++k) {
            const double hz = static_cast<double>(k) * rate / static_cast<double>(n);
            if (hz >= centre / edge && hz < centre * edge) power += re[k] * re[k] + im[k] * im[k];
        }
        bands.push_back(10.0 * std::log10(power));
    }
    return bands;
}

inline double rmsDb(const std::vector<double>& x) {
    double sum = 0;
    for (double v : x) sum += v * v;
    return 10.0 * std::log10(sum / static_cast<double>(x.size()));
}

// Mid, side and DI, interleaved: the mid microphone hears the DI through the known response,
// `delay` samples later, in a room with noise; the side microphone through another room.
inline std::vector<float> take(int rate, double seconds, double delay) {
    const auto frames = static_cast<std::size_t>(seconds * rate);
    const std::vector<double> di = synthetic::pluckedNotes(rate, frames, 3);
    const std::vector<double> heard = shaped(di, rate, micResponseDb);
    const std::vector<double> mid = synthetic::through(heard, synthetic::Room::typical(delay, 0.5, rate, 11));
    const std::vector<double> side = synthetic::through(heard, synthetic::Room::typical(delay, 1.3, rate, 12));
    synthetic::Noise noise(5);
    std::vector<float> take(3 * frames);
    for (std::size_t j = 0; j < frames; ++j) {
        take[3 * j] = static_cast<float>(0.8 * mid[j] + 1e-3 * noise());
        take[3 * j + 1] = static_cast<float>(0.2 * side[j] + 1e-3 * noise());
        take[3 * j + 2] = static_cast<float>(0.7 * di[j]);
    }
    return take;
}

}  // namespace tonetake
