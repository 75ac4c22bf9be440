// What the renderer finds in a take before it is decoded: where the DI sits against the
// microphones, the channels' balance, and the decoded pair's loudness and headroom with the
// settings given. One streaming pass; memory does not grow with the take.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "editor/scope.h"
#include "align/di_correlator.h"
#include "tools/take/loudness.h"
#include "tools/vstrender/inputs.h"
#include "tools/vstrender/session.h"
#include "tools/vstrender/take_reader.h"

namespace vstrender {

struct Level {
    double peak = 0, sumSquares = 0;
    double peakDb() const;
    double rmsDb(std::uint64_t frames) const;
};

// A stretch of the take as the plot shows it.
struct TimeSlice {
    Level left, right;
    double sumLR = 0;
    std::uint64_t frames = 0;
    double correlation() const;  // 0 when either side is silent
};

// The DI's tone match the take teaches: the curve, the DI's level against the mid microphone's
// in third-octave bands from 80 Hz to 10 kHz (the two's overall difference taken out) before the
// match and after it, and the blend's low end with the DI lined up and matched as --align-di
// --match-di would render it, with where the matched DI then lies.
struct ToneFindings {
    align::ToneCurve curve;
    std::vector<double> bandHz, beforeDb, afterDb;
    std::optional<double> diMixLowEndLossDb;
    align::DiEstimate matchedAgainstMid;
};

struct Analysis {
    std::string take, settings;
    int sampleRate = 0;
    std::uint64_t frames = 0;
    DiShift shift;                        // applied before everything below
    Level mid, side, di;                  // the inputs
    std::vector<align::DiEstimate> diAgainst;  // the mid, then the side microphone
    std::optional<ToneFindings> tone;          // when the inputs are as the take has them
    int windowSamples = 0;
    Level left, right;                    // the decoded pair
    double pairCorrelation = 0, monoSumLossDb = 0;
    std::optional<double> diMixLowEndLossDb;  // when the DI is mixed into the pair
    take::LoudnessResult loudness;
    std::optional<double> mainTrimDb, largestMainTrimDb;  // the decoder's main output trim
    double mainTrimTopDb = 0, mainTrimBottomDb = 0;
    std::vector<TimeSlice> slices;
    double secondsPerSlice = 0;
    // The decoded pair's vectorscope for the sheet, from every fourth frame (as the editor's).
    editor::ScopeData scope{360, 360};
    static constexpr int kScopeStride = 4;
};

// The take's DI against the mid and side microphones, for --align-di: one pass over the inputs.
// With `learnTone` (--match-di), also the DI's tone match learned from the mid microphone, its
// sections, and the estimates for the DI through them: the delay that lines the matched DI up.
struct DiMeasure {
    std::vector<align::DiEstimate> estimates;
    align::ToneCurve curve;
    align::Sections sections{};
    std::vector<align::DiEstimate> matched;
};
DiMeasure measureDi(Inputs& inputs, int pluginInputs, bool learnTone = false);

// The whole analysis with the plug-in as set (`fresh` names the settings that differ).
Analysis analyzeTake(Inputs& inputs, LoadedPlugin& p, vsthost::Plugin& fresh, const DiShift& shift, bool useDouble);

// Refusals for takes the analysis cannot read as mid, side and DI.
void checkAnalysable(const Inputs& inputs);

}  // namespace vstrender
