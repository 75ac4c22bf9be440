#include "tools/vstrender/demo.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <cstdint>
#include <vector>

namespace vstrender {

namespace {

// A plucked string: a noise burst circulating in a delay line through a gentle low-pass
// (the Karplus-Strong model), so it rings and darkens as a real string does.
class PluckedString {
public:
    PluckedString(double frequency, int sampleRate, std::uint32_t seed)
        : line_(static_cast<std::size_t>(std::max(2.0, sampleRate / frequency))), seed_(seed) {}
    void pluck(double strength) {
        for (double& v : line_) v = strength * (noise() * 0.8 + (v * 0.2));
    }
    double next() {
        const std::size_t following = (position_ + 1) % line_.size();
        const double out = line_[position_];
        line_[position_] = 0.4985 * (out + line_[following]);
        position_ = following;
        return out;
    }

private:
    double noise() {
        seed_ = seed_ * 1664525u + 1013904223u;
        return static_cast<double>(seed_ >> 8) / 8388608.0 - 1.0;
    }
    std::vector<double> line_;
    std::size_t position_ = 0;
    std::uint32_t seed_;
};

struct OnePole {
    double coefficient, state = 0.0;
    double lowPass(double x) { return state += coefficient * (x - state); }
};

// Two chords, G and E minor, six strings each, strummed down and up every half second; each
// frame gives what the strings sound together and spread across the stereo field.
class Strummer {
public:
    explicit Strummer(int sampleRate) : sampleRate_(sampleRate), strumGap_(static_cast<int>(0.012 * sampleRate)) {
        for (int s = 0; s < 6; ++s) strings_.emplace_back(kChords[0][s], sampleRate, 1000u + 77u * s);
    }
    // The strings at frame j: `direct` all together, `spread` low strings to one side, high
    // strings to the other.
    void next(std::size_t j, double& direct, double& spread) {
        pluckAt(j);
        direct = 0.0, spread = 0.0;
        for (int s = 0; s < 6; ++s) {
            const double v = strings_[static_cast<std::size_t>(s)].next();
            direct += v;
            spread += v * (s - 2.5) / 2.5;
        }
    }

private:
    static constexpr double kChords[2][6] = {{98.00, 123.47, 146.83, 196.00, 246.94, 392.00},
                                             {82.41, 123.47, 164.81, 196.00, 246.94, 329.63}};
    static constexpr double kBeat = 0.5;  // seconds between strums

    void pluckAt(std::size_t j) {
        const double t = static_cast<double>(j) / sampleRate_;
        const int strum = static_cast<int>(t / kBeat);
        const auto strumStart = static_cast<std::size_t>(strum * kBeat * sampleRate_);
        const bool down = strum % 2 == 0;
        for (int s = 0; s < 6; ++s) {
            const int order = down ? s : 5 - s;
            if (j != strumStart + static_cast<std::size_t>(order * strumGap_)) continue;
            if (s == 0 && strum % 4 == 0) {
                const int chord = (strum / 4) % 2;
                for (int k = 0; k < 6; ++k)
                    strings_[static_cast<std::size_t>(k)] =
                        PluckedString(kChords[chord][k], sampleRate_, 1000u + 77u * k + strum);
            }
            strings_[static_cast<std::size_t>(s)].pluck(down ? 0.9 : 0.55);
        }
    }

    int sampleRate_, strumGap_;
    std::vector<PluckedString> strings_;
};

// Sound takes this long from the strings to microphones half a metre away; the pickup hears
// them at once.
constexpr double kMicrophoneSeconds = 0.5 / 343.0;

// Mid, side and DI, interleaved, about -6 dBFS at the loudest.
std::vector<float> synthesiseTake(int sampleRate, std::size_t frames) {
    Strummer strummer(sampleRate);
    OnePole body{1.0 - std::exp(-2 * std::numbers::pi * 1800.0 / sampleRate)};
    OnePole sideTone{1.0 - std::exp(-2 * std::numbers::pi * 3500.0 / sampleRate)};
    std::vector<double> room(static_cast<std::size_t>(0.011 * sampleRate) + 1, 0.0);
    const auto travel = static_cast<std::size_t>(std::lround(kMicrophoneSeconds * sampleRate));
    std::vector<double> inAir(2 * travel + 2, 0.0);  // direct and spread, on their way to the microphones
    std::size_t roomAt = 0, airAt = 0;
    double peak = 0.0;
    std::vector<double> mix(frames * 3);
    for (std::size_t j = 0; j < frames; ++j) {
        double pickup = 0.0, spreadNow = 0.0;
        strummer.next(j, pickup, spreadNow);
        const double direct = inAir[2 * airAt], spread = inAir[2 * airAt + 1];
        inAir[2 * airAt] = pickup;
        inAir[2 * airAt + 1] = spreadNow;
        airAt = (airAt + 1) % (travel + 1);
        const double reflected = room[roomAt];
        room[roomAt] = direct;
        roomAt = (roomAt + 1) % room.size();
        const double mid = body.lowPass(direct) * 0.9 + reflected * 0.15;
        const double side = sideTone.lowPass(spread) * 0.5 + (reflected - direct) * 0.12;
        mix[j * 3] = mid;
        mix[j * 3 + 1] = side;
        mix[j * 3 + 2] = pickup;  // bright and dry
        peak = std::max({peak, std::fabs(mid), std::fabs(side), std::fabs(pickup)});
    }
    const double gain = peak > 0 ? 0.5 / peak : 1.0;
    std::vector<float> take(frames * 3);
    for (std::size_t i = 0; i < mix.size(); ++i) take[i] = static_cast<float>(mix[i] * gain);
    return take;
}

}  // namespace

bool writeDemoTake(const std::string& path, int sampleRate, double seconds, std::string& error) {
    const auto frames = static_cast<std::size_t>(seconds * sampleRate);
    const std::vector<float> take = synthesiseTake(sampleRate, frames);
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = 3;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) {
        error = "cannot write " + path + ": " + sf_strerror(nullptr);
        return false;
    }
    const sf_count_t written = sf_writef_float(file, take.data(), static_cast<sf_count_t>(frames));
    sf_close(file);
    if (written != static_cast<sf_count_t>(frames)) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace vstrender
