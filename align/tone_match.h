// The DI given the microphone's voice: a correction curve learned from the take, and the filter
// that applies it without latency.
//
// The curve is the ratio of the microphone's long-term spectrum to the DI's, at points a sixth
// of an octave apart from 39.4 Hz to 16 kHz, each read over the third of an octave around it. A
// point where the two share too little to say (its coherence under kShared: noise, the room, a
// string the pickup does not hear) is held at the nearest point that does say, and so are the
// frequencies below 40 Hz and above 16 kHz. The curve is then shifted so the DI's overall level
// is what it was ("DI level" keeps its meaning; the microphone's own level is no part of the
// match), and held within +-18 dB.
//
// The filter is a cascade of second-order sections: a low shelf at 39.4 Hz, peaking sections on
// the third-octave centres from 50 Hz to 12.7 kHz (each two thirds of an octave wide, so that
// neighbours overlap and their sum is smooth), and a high shelf at 10.1 kHz, their gains fitted
// to the curve. Shelves and peaks of this kind are minimum phase, so the filter adds no latency
// and the least delay a filter of that response can have; 27 sections cost a fixed number of
// operations a sample at any rate, where a minimum-phase FIR fine enough for 40 Hz would need
// thousands of taps. Everything is computed with + - * / and sqrt only, so the same curve gives
// the same coefficients, and the same audio, on every processor and C library.
#pragma once

#include <array>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "align/tone_wave.h"

namespace align {

// The curve's frequencies: 1 kHz times 2^((k - 28)/6), k = 0 .. kMatchPoints - 1, 39.4 Hz to
// 16 kHz. Every other one is a preferred third-octave centre (40, 50, 63 ... 16k), so the bands
// a third-octave analysis reads are those the curve was learned in.
inline constexpr int kMatchPoints = 53;
inline constexpr double kMatchLowestHz = 39.37253280921478;  // 1 kHz times 2^(-28/6)
inline constexpr double kMatchLimitDb = 18.0;
// A band's coherence (0 to 1) below this holds the curve there.
inline constexpr double kShared = 0.5;
double matchFrequency(int point);

struct ToneCurve {
    std::array<double, kMatchPoints> db{};  // the DI's gain at each frequency; 0 throughout = no match
    // held at a neighbour's value: too little shared there (every band, until a take says otherwise)
    std::array<bool, kMatchPoints> held = [] {
        std::array<bool, kMatchPoints> all{};
        all.fill(true);
        return all;
    }();
    bool learned() const;                   // some band said something
    bool flat() const;                      // 0 dB throughout
};

// What a microphone and the DI of one take share, summed over segments of it: per bin of
// `binHz`, the microphone's power, the DI's, and their cross-spectrum (index 0 is DC).
struct LongTermSpectra {
    double binHz = 0;
    const std::vector<double>* microphone = nullptr;
    const std::vector<double>* di = nullptr;
    const std::vector<std::complex<double>>* cross = nullptr;
};

ToneCurve learnToneMatch(const LongTermSpectra& spectra);

// One second-order section, normalised: y = b0 x + b1 x1 + b2 x2 - a1 y1 - a2 y2.
struct Section {
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
};
inline constexpr int kMatchSections = kToneSections;
using Sections = std::array<Section, kMatchSections>;

// The sections' gains in dB that realise the whole curve at this rate. The fit allocates: it
// runs where the curve is set, never on the audio thread.
using SectionGains = std::array<double, kMatchSections>;
SectionGains fitSectionGains(const ToneCurve& curve, double sampleRate);
// The cascade of `amount` (0 to 1) of those gains, each scaled in dB: the curve scaled, as near
// as the sections' shapes allow. Allocates nothing.
Sections sectionsOf(const SectionGains& gains, double amount, double sampleRate);
// Both at once.
Sections matchSections(const ToneCurve& curve, double amount, double sampleRate);
// The cascade's gain in dB at a frequency, and its complex response there.
double sectionsDb(const Sections& sections, double hz, double sampleRate);
std::complex<double> sectionsResponse(const Sections& sections, double hz, double sampleRate);

// The cascade run on one channel, its state kept between blocks. A block runs as a wavefront
// (see tone_wave.h): every section works at each step, on the sample one before its
// predecessor's. Each section still meets its samples in order with the same arithmetic, so
// the output is the same to the bit as one sample through every section at a time (`step`).
class ToneFilter {
public:
    ToneFilter();
    void set(const Sections& sections);
    void reset();
    void process(float* x, std::size_t frames) { run(x, frames); }
    void process(double* x, std::size_t frames) { run(x, frames); }
    double step(double v);

private:
    static constexpr std::size_t kChunk = 512;
    template <class Sample>
    void run(Sample* x, std::size_t frames);
    double section(int s, double v);

    friend class ToneStage;
    ToneLanes lanes_;
    double gain_ = 1;  // the sections' b0, multiplied
    alignas(64) std::array<double, kChunk> work_;
};

// The filter as the plug-ins run it on the DI. Off, it leaves the DI untouched to the bit. A
// change crossfades from the filter before it to the new one over kCrossfadeSeconds, the new
// one starting from the old one's state so that it does not ring in from silence; a change
// during a crossfade waits for its end. Allocates nothing.
class ToneStage {
public:
    static constexpr double kCrossfadeSeconds = 0.005;

    void prepare(double sampleRate);  // and forget the past
    void reset();
    // The sections to run, `on` or not (then the DI passes as it is): at once, or crossfaded.
    void jumpTo(const Sections& sections, bool on);
    void set(const Sections& sections, bool on);
    // Off, and no crossfade under way: processing would change nothing.
    bool passThrough() const { return !on_ && !fading_; }
    void process(float* x, std::size_t frames) { run(x, frames); }
    void process(double* x, std::size_t frames) { run(x, frames); }

private:
    static constexpr std::size_t kChunk = 256;
    template <class Sample>
    void run(Sample* x, std::size_t frames);
    void startFade();

    double step_ = 1.0 / 240.0;  // of the crossfade, a sample
    ToneFilter filters_[2];
    int now_ = 0;                // the filter heard; the other is the one faded to
    bool on_ = false, nextOn_ = false, fading_ = false, pending_ = false, pendingOn_ = false;
    double fade_ = 0;            // the new filter's share
    Sections pendingSections_{};
    alignas(64) std::array<double, kChunk> before_{}, after_{};
};

}  // namespace align
