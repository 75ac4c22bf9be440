#include "tools/vstrender/analysis.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <numbers>

#include "effect/decoder_parameters.h"
#include "tools/vstrender/errors.h"
#include "tools/vstrender/params.h"
#include "tools/vstrender/reports.h"

namespace vstrender {

namespace {

constexpr std::size_t kAnalysisBlock = 4096;  // frames per pass step: larger than a render's, for speed
constexpr int kSlices = 800;                  // the plot's columns at most
constexpr double kLowEndHz = 1000.0;          // where a DI that arrives late combs the sum first
constexpr double kTruePeakCeilingDbtp = -1.0;
constexpr double kAudibleDiShare = 1e-3;      // -30 dB

template <class Sample>
void measure(Level& level, const Sample* x, std::size_t n) {
    for (std::size_t j = 0; j < n; ++j) {
        const double v = static_cast<double>(x[j]);
        level.peak = std::max(level.peak, std::abs(v));
        level.sumSquares += v * v;
    }
}

// A second-order Butterworth low-pass (the audio cookbook's), for the low end of a mono sum.
class LowPass {
public:
    LowPass(double cutoffHz, double sampleRate) {
        const double w = 2.0 * std::numbers::pi * cutoffHz / sampleRate, alpha = std::sin(w) / std::sqrt(2.0);
        const double a0 = 1.0 + alpha;
        b0_ = (1.0 - std::cos(w)) / 2.0 / a0;
        b1_ = 2.0 * b0_;
        a1_ = -2.0 * std::cos(w) / a0;
        a2_ = (1.0 - alpha) / a0;
    }
    double operator()(double x) {
        const double y = b0_ * x + b1_ * x1_ + b0_ * x2_ - a1_ * y1_ - a2_ * y2_;
        x2_ = x1_;
        x1_ = x;
        y2_ = y1_;
        y1_ = y;
        return y;
    }

private:
    double b0_, b1_, a1_, a2_, x1_ = 0, x2_ = 0, y1_ = 0, y2_ = 0;
};

// The mono sum's low end, of the pair as set and of its microphone and DI parts decoded apart:
// the decoder is linear, so the parts add up to the whole.
struct LowEnd {
    LowEnd(double rate) : whole(kLowEndHz, rate), mics(kLowEndHz, rate), di(kLowEndHz, rate) {}
    LowPass whole, mics, di;
    double wholeEnergy = 0, micsEnergy = 0, diEnergy = 0;
};

std::unique_ptr<vsthost::Plugin> sameSettings(const LoadedPlugin& p) {
    auto instance = anotherInstance(p);
    instance->setChunk(p.instance->getChunk(), false);
    return instance;
}

template <class Sample>
class Pass {
public:
    Pass(Inputs& inputs, LoadedPlugin& p, const DiShift& shift, Analysis& a)
        : a_(a), plugin_(*p.instance), mics_(sameSettings(p)), diOnly_(sameSettings(p)),
          reader_(inputs, plugin_.numInputs(), shift), correlator_(a.sampleRate, 2), loudness_(2, a.sampleRate),
          lowEnd_(a.sampleRate) {
        const std::size_t ins = static_cast<std::size_t>(std::max(plugin_.numInputs(), 3));
        const std::size_t outs = static_cast<std::size_t>(std::max(plugin_.numOutputs(), 2));
        for (auto* buffers : {&in_, &silentIn_}) buffers->assign(ins, std::vector<Sample>(kAnalysisBlock, Sample(0)));
        for (auto* buffers : {&out_, &micsOut_, &diOut_}) buffers->assign(outs, std::vector<Sample>(kAnalysisBlock));
        interleaved_.resize(2 * kAnalysisBlock);
        const std::uint64_t total = static_cast<std::uint64_t>(inputs[0]->info.frames);
        framesPerSlice_ = std::max<std::uint64_t>(1, (total + kSlices - 1) / kSlices);
        a_.secondsPerSlice = static_cast<double>(framesPerSlice_) / a_.sampleRate;
        a_.windowSamples = correlator_.windowSamples();
    }

    void run() {
        for (vsthost::Plugin* instance : {&plugin_, mics_.get(), diOnly_.get()}) {
            instance->setSampleRate(static_cast<float>(a_.sampleRate));
            instance->setBlockSize(static_cast<VstInt32>(kAnalysisBlock));
            instance->resume();
        }
        std::vector<Sample*> in = pointers(in_), out = pointers(out_);
        // The parts: the microphones with the DI silent, the DI with the microphones silent.
        std::vector<Sample*> micsIn = in, diIn = pointers(silentIn_), micsOut = pointers(micsOut_),
                             diOutPtr = pointers(diOut_);
        micsIn[2] = silentIn_[2].data();
        diIn[2] = in_[2].data();
        while (const std::size_t n = reader_.read(in.data(), kAnalysisBlock)) {
            const auto frames = static_cast<VstInt32>(n);
            measure(a_.mid, in[0], n);
            measure(a_.side, in[1], n);
            measure(a_.di, in[2], n);
            const Sample* const channels[] = {in[0], in[1], in[2]};
            correlator_.add(channels, n);
            plugin_.process(in.data(), out.data(), frames);
            mics_->process(micsIn.data(), micsOut.data(), frames);
            diOnly_->process(diIn.data(), diOutPtr.data(), frames);
            pair(out[0], out[1], n);
            lowEnd(n);
            a_.frames += n;
        }
        for (vsthost::Plugin* instance : {&plugin_, mics_.get(), diOnly_.get()}) instance->suspend();
        a_.diAgainst = correlator_.finish();
        a_.loudness = loudness_.finish();
    }

    // The match learned from the mid microphone, and the bands before and after it.
    ToneFindings toneFindings() const {
        ToneFindings t;
        const align::LongTermSpectra spectra = correlator_.spectra(0);
        t.curve = align::learnToneMatch(spectra);
        const align::Sections sections = align::matchSections(t.curve, 1.0, a_.sampleRate);
        for (int b = -11; b <= 10; ++b) {
            const double centre = 1000.0 * std::pow(2.0, b / 3.0), edge = std::pow(2.0, 1.0 / 6.0);
            double mic = 0, before = 0, after = 0;
            for (std::size_t k = 1; k < spectra.di->size(); ++k) {
                const double hz = static_cast<double>(k) * spectra.binHz;
                if (hz < centre / edge || hz >= centre * edge) continue;
                mic += (*spectra.microphone)[k], before += (*spectra.di)[k];
                after += (*spectra.di)[k] * std::norm(align::sectionsResponse(sections, hz, a_.sampleRate));
            }
            if (!(mic > 0 && before > 0)) continue;
            t.bandHz.push_back(centre);
            t.beforeDb.push_back(10.0 * std::log10(before / mic));
            t.afterDb.push_back(10.0 * std::log10(after / mic));
        }
        for (auto* bands : {&t.beforeDb, &t.afterDb}) {
            double mean = 0;
            for (double v : *bands) mean += v / static_cast<double>(bands->size());
            for (double& v : *bands) v -= mean;
        }
        return t;
    }

private:
    static std::vector<Sample*> pointers(std::vector<std::vector<Sample>>& buffers) {
        std::vector<Sample*> p;
        for (auto& b : buffers) p.push_back(b.data());
        return p;
    }

    void pair(const Sample* left, const Sample* right, std::size_t n) {
        measure(a_.left, left, n);
        measure(a_.right, right, n);
        for (std::size_t j = 0; j < n; ++j) {
            const double l = static_cast<double>(left[j]), r = static_cast<double>(right[j]);
            interleaved_[2 * j] = l;
            interleaved_[2 * j + 1] = r;
            sumLR_ += l * r;
            sumMono_ += (l + r) * (l + r);
            if (a_.slices.empty() || a_.slices.back().frames == framesPerSlice_) a_.slices.emplace_back();
            TimeSlice& slice = a_.slices.back();
            slice.left.peak = std::max(slice.left.peak, std::abs(l));
            slice.right.peak = std::max(slice.right.peak, std::abs(r));
            slice.left.sumSquares += l * l;
            slice.right.sumSquares += r * r;
            slice.sumLR += l * r;
            ++slice.frames;
            if ((a_.frames + j) % Analysis::kScopeStride == 0) a_.scope.add(l, r);
        }
        loudness_.add(interleaved_.data(), n);
    }

    void lowEnd(std::size_t n) {
        for (std::size_t j = 0; j < n; ++j) {
            const double whole = lowEnd_.whole(static_cast<double>(out_[0][j]) + static_cast<double>(out_[1][j]));
            const double mics = lowEnd_.mics(static_cast<double>(micsOut_[0][j]) + static_cast<double>(micsOut_[1][j]));
            const double di = lowEnd_.di(static_cast<double>(diOut_[0][j]) + static_cast<double>(diOut_[1][j]));
            lowEnd_.wholeEnergy += whole * whole;
            lowEnd_.micsEnergy += mics * mics;
            lowEnd_.diEnergy += di * di;
        }
    }

    Analysis& a_;
    vsthost::Plugin& plugin_;
    std::unique_ptr<vsthost::Plugin> mics_, diOnly_;
    TakeReader<Sample> reader_;
    align::DiCorrelator correlator_;
    take::LoudnessThread loudness_;
    std::vector<std::vector<Sample>> in_, silentIn_, out_, micsOut_, diOut_;
    std::vector<double> interleaved_;
    std::uint64_t framesPerSlice_ = 1;

public:
    LowEnd lowEnd_;
    double sumLR_ = 0, sumMono_ = 0;
};

// The largest main output trim, on its 0.1 dB grid, that keeps the true peak at -1 dBTP or
// below: the trim scales the pair, so the true peak moves with it decibel for decibel.
void headroom(vsthost::Plugin& plugin, Analysis& a) {
    VstInt32 index = 0;
    std::string error;
    if (!findParameter(plugin, "main output trim", index, error)) return;
    const auto row = std::find_if(decoder::kParameters.begin(), decoder::kParameters.end(),
                                  [](const decoder::Parameter& p) { return p.slider == decoder::kMainTrim; });
    a.mainTrimDb = std::strtod(plugin.parameterDisplay(index).c_str(), nullptr);
    a.mainTrimBottomDb = row->min;
    a.mainTrimTopDb = row->max;
    if (!std::isfinite(a.loudness.truePeakDbtp)) return;
    const double exact = *a.mainTrimDb + (kTruePeakCeilingDbtp - a.loudness.truePeakDbtp);
    // Down to the grid; the small allowance keeps a value already on it from dropping a step.
    a.largestMainTrimDb = std::clamp(std::floor(exact / row->step + 1e-6) * row->step, row->min, row->max);
}

template <class Sample>
void runPass(Inputs& inputs, LoadedPlugin& p, const DiShift& shift, Analysis& a) {
    Pass<Sample> pass(inputs, p, shift, a);
    pass.run();
    if (!shift.any() && !a.diAgainst.empty() && !a.diAgainst[0].silent) a.tone = pass.toneFindings();
    const double energy = a.left.sumSquares + a.right.sumSquares;
    a.pairCorrelation = a.left.sumSquares > 0 && a.right.sumSquares > 0
                            ? pass.sumLR_ / std::sqrt(a.left.sumSquares * a.right.sumSquares)
                            : 0.0;
    a.monoSumLossDb = energy > 0 && pass.sumMono_ > 0 ? -10.0 * std::log10(pass.sumMono_ / (2.0 * energy)) : 0.0;
    const LowEnd& low = pass.lowEnd_;
    // Only where the DI is heard in the pair: within 30 dB of the microphones' low end.
    if (low.diEnergy > kAudibleDiShare * low.micsEnergy && low.micsEnergy > 0 && low.wholeEnergy > 0) {
        const double inPhase = std::pow(std::sqrt(low.micsEnergy) + std::sqrt(low.diEnergy), 2.0);
        a.diMixLowEndLossDb = 10.0 * std::log10(inPhase / low.wholeEnergy);
    }
}

}  // namespace

double Level::peakDb() const { return editor::toDb(peak); }
double Level::rmsDb(std::uint64_t frames) const {
    return frames ? editor::toDb(std::sqrt(sumSquares / static_cast<double>(frames))) : -HUGE_VAL;
}

double TimeSlice::correlation() const {
    const double energy = std::sqrt(left.sumSquares * right.sumSquares);
    return energy > 0 ? sumLR / energy : 0.0;
}

void checkAnalysable(const Inputs& inputs) {
    int channels = 0;
    for (auto& input : inputs) channels += input->info.channels;
    if (channels == 1)
        refuse(inputs[0]->name +
               " is a mono file: the analysis needs mid, side and DI, as one three-channel file or three mono files");
    if (channels == 2)
        refuse("the take has two channels (mid and side): the DI, channel 3, is missing");
    const int rate = inputs[0]->info.samplerate;
    const auto window = static_cast<sf_count_t>(std::ceil(rate * align::kSearchMilliseconds / 1000.0));
    if (inputs[0]->info.frames < 2 * window + 1)
        fail("the take is " + std::to_string(inputs[0]->info.frames) + " frames long, shorter than the DI search window (" +
             std::to_string(2 * window + 1) + " frames, 10 ms either way): too short to analyse");
}

DiMeasure measureDi(Inputs& inputs, int pluginInputs, bool learnTone) {
    align::DiCorrelator correlator(inputs[0]->info.samplerate, 2);
    TakeReader<double> reader(inputs, std::max(pluginInputs, 3), DiShift{});
    std::vector<std::vector<double>> in(static_cast<std::size_t>(std::max(pluginInputs, 3)),
                                        std::vector<double>(kAnalysisBlock));
    std::vector<double*> pointers;
    for (auto& c : in) pointers.push_back(c.data());
    while (const std::size_t n = reader.read(pointers.data(), kAnalysisBlock)) {
        const double* const channels[] = {pointers[0], pointers[1], pointers[2]};
        correlator.add(channels, n);
    }
    rewind(inputs);
    DiMeasure m;
    m.estimates = correlator.finish();
    if (!learnTone) return m;
    m.curve = align::learnToneMatch(correlator.spectra(0));
    m.sections = align::matchSections(m.curve, 1.0, inputs[0]->info.samplerate);
    m.matched = correlator.estimatesThrough(m.sections);
    return m;
}

// A second pass with the DI lined up and matched as --align-di --match-di would render it: the
// blend's low end then, and where the matched DI lies.
void toneAfterMatching(Inputs& inputs, LoadedPlugin& p, bool useDouble, Analysis& a) {
    rewind(inputs);
    const DiMeasure measured = measureDi(inputs, p.instance->numInputs(), true);
    if (!measured.matched[0].reliable() || !measured.curve.learned()) return;
    DiShift shift;
    shift.delaySamples = measured.matched[0].delaySamples;
    shift.invert = measured.matched[0].inverted();
    shift.matchTone = !measured.curve.flat();
    shift.tone = measured.sections;
    Analysis b;
    b.sampleRate = a.sampleRate;
    if (useDouble)
        runPass<double>(inputs, p, shift, b);
    else
        runPass<float>(inputs, p, shift, b);
    rewind(inputs);
    a.tone->diMixLowEndLossDb = b.diMixLowEndLossDb;
    if (!b.diAgainst.empty()) a.tone->matchedAgainstMid = b.diAgainst[0];
}

Analysis analyzeTake(Inputs& inputs, LoadedPlugin& p, vsthost::Plugin& fresh, const DiShift& shift, bool useDouble) {
    Analysis a;
    for (auto& input : inputs) a.take += (a.take.empty() ? "" : ", ") + input->name;
    a.settings = changedSettings(*p.instance, fresh);
    a.sampleRate = inputs[0]->info.samplerate;
    a.shift = shift;
    if (useDouble)
        runPass<double>(inputs, p, shift, a);
    else
        runPass<float>(inputs, p, shift, a);
    if (a.mid.peak == 0 && a.side.peak == 0 && a.di.peak == 0) fail("the take is silent: nothing to analyse");
    headroom(*p.instance, a);
    if (a.tone) toneAfterMatching(inputs, p, useDouble, a);
    return a;
}

}  // namespace vstrender
