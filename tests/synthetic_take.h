// Takes with known answers: a guitar-like signal defined at every instant, so a microphone
// can hear it any fraction of a sample later, exactly.
#pragma once

#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

namespace synthetic {

// A sum of partials from 60 Hz up to `highest` (in Hz) under a slow swell: band-limited, and
// without a period within the DI's search window.
class Strings {
public:
    Strings(double highest, unsigned seed, int partials = 48) {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        for (int k = 0; k < partials; ++k) {
            const double f = 60.0 * std::pow(highest / 60.0, unit(rng));
            partials_.push_back({2 * std::numbers::pi * f, 2 * std::numbers::pi * unit(rng), 0.3 + unit(rng)});
        }
        swellPhase_ = 2 * std::numbers::pi * unit(rng);
    }
    // The value at t seconds, within +-1.
    double at(double t) const {
        double sum = 0.0, weight = 0.0;
        for (const Partial& p : partials_) {
            sum += p.amplitude * std::sin(p.omega * t + p.phase);
            weight += p.amplitude;
        }
        return 0.6 * sum / weight * (1.0 + 0.5 * std::sin(2 * std::numbers::pi * 1.3 * t + swellPhase_));
    }

private:
    struct Partial {
        double omega, phase, amplitude;
    };
    std::vector<Partial> partials_;
    double swellPhase_ = 0;
};

// Noise, deterministic, for what a microphone hears that the pickup does not.
class Noise {
public:
    explicit Noise(unsigned seed) : rng_(seed) {}
    double operator()() { return dist_(rng_); }

private:
    std::mt19937 rng_;
    std::uniform_real_distribution<double> dist_{-1.0, 1.0};
};

// Mid, side and DI, interleaved: the DI hears the strings at once (in `polarity`), the mid
// microphone `delaySamples` later, the side a little of them, both with some room.
inline std::vector<float> take(int rate, double seconds, double delaySamples, double polarity = 1.0,
                               unsigned seed = 1, double highest = 8000.0) {
    const Strings strings(highest, seed);
    Noise room(seed + 100);
    const auto frames = static_cast<std::size_t>(seconds * rate);
    std::vector<float> samples(3 * frames);
    for (std::size_t j = 0; j < frames; ++j) {
        const double t = static_cast<double>(j) / rate, heard = strings.at(t - delaySamples / rate);
        samples[3 * j] = static_cast<float>(0.7 * heard + 0.01 * room());
        samples[3 * j + 1] = static_cast<float>(0.2 * heard + 0.05 * room());
        samples[3 * j + 2] = static_cast<float>(polarity * 0.6 * strings.at(t));
    }
    return samples;
}

}  // namespace synthetic
