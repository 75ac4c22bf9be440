// Takes recorded in a room, with known answers: a guitar of plucked notes as the DI, and
// microphones that hear it through a room (the direct sound, early reflections, a diffuse tail)
// and some noise. Each path is a windowed-sinc fractional delay of the DI, so the direct
// path's delay is exact to far below what the estimator must reach.
#pragma once

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>
#include <numbers>
#include <random>
#include <utility>
#include <vector>

#include "align/fft.h"
#include "align/sinc.h"
#include "tests/synthetic_take.h"

namespace synthetic {

// Plucked notes from the guitar's range (82 to 660 Hz), a new one every 0.2 to 0.6 s, each a
// series of harmonics up to 12 kHz (or 0.4 of the rate) at about 1/n, the higher dying faster,
// after a 1 ms attack: the low-heavy, line-rich spectrum of a real pickup.
inline std::vector<double> pluckedNotes(int rate, std::size_t frames, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> out(frames, 0.0);
    const double top = std::min(12000.0, 0.4 * rate), attack = 0.001 * rate;
    for (double onset = 0; onset < static_cast<double>(frames); onset += (0.2 + 0.4 * unit(rng)) * rate) {
        const double f0 = 82.4 * std::pow(8.0, unit(rng)), level = 0.5 + 0.5 * unit(rng);
        const auto start = static_cast<std::size_t>(onset);
        const std::size_t length = std::min(frames - start, static_cast<std::size_t>(2.5 * rate));
        for (int n = 1; n * f0 < top; ++n) {
            const double a = level * (0.4 + unit(rng)) / std::pow(n, 1.1), phase = 2 * std::numbers::pi * unit(rng);
            // Turned and shrunk by one complex factor per sample: quick for long takes.
            const std::complex<double> step = std::polar(std::exp(-(1.0 + 0.25 * n) / (1.2 * rate)), 2 * std::numbers::pi * n * f0 / rate);
            std::complex<double> now = std::polar(a, phase);
            for (std::size_t j = 0; j < length; ++j, now *= step) {
                const double rise = j < attack ? 0.5 - 0.5 * std::cos(std::numbers::pi * static_cast<double>(j) / attack) : 1.0;
                out[start + j] += rise * now.imag();
            }
        }
    }
    double peak = 0;
    for (double v : out) peak = std::max(peak, std::abs(v));
    for (double& v : out) v *= 0.5 / peak;
    return out;
}

// A room between the strings and a microphone: each path a delay in samples and a gain.
struct Room {
    std::vector<std::pair<double, double>> paths;
    // The direct sound `delay` samples late; early reflections 0.85, 1.4, 2.1 and 2.9 ms after
    // it, the first at `strongest` of its level; a diffuse tail of small ones from 3 to 40 ms,
    // dying away.
    static Room typical(double delay, double strongest, int rate, unsigned seed) {
        Room r;
        r.paths = {{delay, 1.0}};
        const double ms = rate / 1000.0;
        for (const auto& [after, gain] : {std::pair{0.85, strongest}, {1.4, -0.3}, {2.1, 0.25}, {2.9, -0.2}})
            r.paths.push_back({delay + after * ms, gain});
        std::mt19937 rng(seed);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        for (int k = 0; k < 60; ++k) {
            const double after = 3.0 + 37.0 * unit(rng);
            r.paths.push_back({delay + after * ms, (unit(rng) < 0.5 ? -0.08 : 0.08) * std::exp(-after / 12.0)});
        }
        return r;
    }
};

// x heard through the room: each path's fractional delay by the 64-tap windowed sinc, the
// sum convolved by transform. Paths may be early (negative delays) as long as they are within
// `lead` samples.
inline std::vector<double> through(const std::vector<double>& x, const Room& room, std::size_t lead = 1024) {
    double latest = 0;
    for (const auto& [delay, gain] : room.paths) latest = std::max(latest, delay);
    const std::size_t taps = lead + static_cast<std::size_t>(latest) + align::kSincHalfLength + 2;
    std::vector<double> h(taps, 0.0);  // h[i] is the response at i - lead samples
    for (const auto& [delay, gain] : room.paths)
        for (int i = -align::kSincHalfLength; i <= align::kSincHalfLength + 1; ++i) {
            const double at = std::floor(delay) + i;
            const auto index = static_cast<std::ptrdiff_t>(at) + static_cast<std::ptrdiff_t>(lead);
            if (index >= 0 && index < static_cast<std::ptrdiff_t>(taps))
                h[static_cast<std::size_t>(index)] += gain * align::windowedSinc(at - delay);
        }
    std::size_t n = 4;
    while (n < x.size() + taps) n *= 2;
    const align::Fft fft(n);
    std::vector<double> re(n, 0.0), im(n, 0.0);
    std::copy(x.begin(), x.end(), re.begin());
    std::copy(h.begin(), h.end(), im.begin());
    fft.forward(re.data(), im.data());
    // Two real transforms in one: X = (Z[k] + conj Z[-k]) / 2, H = (Z[k] - conj Z[-k]) / 2i.
    std::vector<double> pr(n), pi(n);
    for (std::size_t k = 0; k < n; ++k) {
        const std::size_t m = (n - k) % n;
        const double xr = (re[k] + re[m]) / 2, xi = (im[k] - im[m]) / 2;
        const double hr = (im[k] + im[m]) / 2, hi = (re[m] - re[k]) / 2;
        pr[k] = xr * hr - xi * hi, pi[k] = xr * hi + xi * hr;
    }
    fft.inverse(pr.data(), pi.data());
    std::vector<double> y(x.size());
    for (std::size_t j = 0; j < y.size(); ++j) y[j] = pr[j + lead] / static_cast<double>(n);
    return y;
}

// Mid, side and DI, interleaved, as recorded in a room: the DI the plucked notes (in
// `polarity`); the mid microphone hears them `delaySamples` later through a typical room with
// the strongest early reflection at `strongest` of the direct sound, and noise; the side
// microphone less of the direct sound and a reflection stronger than it.
inline std::vector<float> roomTake(int rate, double seconds, double delaySamples, double polarity = 1.0,
                                   unsigned seed = 1, double strongest = 0.5) {
    const auto frames = static_cast<std::size_t>(seconds * rate);
    const std::vector<double> di = pluckedNotes(rate, frames, seed);
    const std::vector<double> mid = through(di, Room::typical(delaySamples, strongest, rate, seed + 7));
    const std::vector<double> side = through(di, Room::typical(delaySamples, 1.3, rate, seed + 8));
    Noise noise(seed + 200);
    std::vector<float> samples(3 * frames);
    for (std::size_t j = 0; j < frames; ++j) {
        samples[3 * j] = static_cast<float>(0.8 * mid[j] + 0.003 * noise());
        samples[3 * j + 1] = static_cast<float>(0.2 * side[j] + 0.003 * noise());
        samples[3 * j + 2] = static_cast<float>(polarity * di[j]);
    }
    return samples;
}

}  // namespace synthetic
