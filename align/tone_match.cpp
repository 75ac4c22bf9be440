#include "align/tone_match.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "align/sinc.h"

namespace align {

namespace {

constexpr double kLn2 = 0.693147180559945309417;
constexpr double kLn10 = 2.302585092994045684018;
constexpr double kSqrtHalf = 0.707106781186547524401;

// e^x and ln x from + - * / and exact scalings by powers of two, so that they are the same bits
// everywhere (a C library's exp and log may differ in the last bit from another's).
double exactExp(double x) {
    if (!(x > -800.0)) return std::isnan(x) ? x : 0.0;  // and no conversion of a NaN below
    if (x > 800.0) return HUGE_VAL;
    const double k = std::nearbyint(x / kLn2);
    const double r = x - k * kLn2;  // |r| <= ln2 / 2: the series has converged by 1/20!
    double s = 1.0;
    for (int n = 20; n >= 1; --n) s = 1.0 + r / n * s;
    return std::ldexp(s, static_cast<int>(k));
}

double exactLn(double x) {
    int e = 0;
    double m = std::frexp(x, &e);  // x = m 2^e, m in [1/2, 1)
    if (m < kSqrtHalf) m *= 2.0, --e;
    // ln m = 2 atanh(s) = 2 (s + s^3/3 + s^5/5 ...), |s| <= 0.172
    const double s = (m - 1.0) / (m + 1.0), z = s * s;
    double t = 0.0;
    for (int n = 31; n >= 1; n -= 2) t = 1.0 / n + z * t;
    return 2.0 * s * t + e * kLn2;
}

double toDb(double power) { return 10.0 / kLn10 * exactLn(power); }
double fromDb(double db) { return exactExp(db * kLn10 / 20.0); }  // as an amplitude
double cosPi(double x) { return sinPi(0.5 - x); }

// The sections' places, a third of an octave apart on the preferred centres: a low shelf at
// 39.4 Hz, peaks from 50 Hz to 12.7 kHz, and a high shelf at 10.1 kHz (a shelf has half its gain at its corner, so it has
// the whole of it by 16 kHz, where the curve ends).
double sectionHz(int s) {
    const int place = s == kMatchSections - 1 ? s - 2 : s;
    return 1000.0 * exactExp(kLn2 * (place - 14) / 3.0);
}
constexpr double kPeakQ = 2.1449;  // 2^(N/2) / (2^N - 1) for N = 2/3: each overlaps its neighbours

enum class Kind { LowShelf, Peak, HighShelf };
Kind kindOf(int s) { return s == 0 ? Kind::LowShelf : s == kMatchSections - 1 ? Kind::HighShelf : Kind::Peak; }

// The usual shelf (slope 1) and peak designs, normalised by a0.
// A section the rate cannot carry (its frequency near or past half the rate) does nothing.
Section design(Kind kind, double hz, double db, double rate) {
    if (!(hz < 0.45 * rate) || !std::isfinite(db)) return {};
    const double a = std::sqrt(fromDb(db)), x = 2.0 * hz / rate;  // a = 10^(db/40)
    const double c = cosPi(x), s = sinPi(x);
    double b0, b1, b2, a0, a1, a2;
    if (kind == Kind::Peak) {
        const double alpha = s / (2.0 * kPeakQ);
        b0 = 1 + alpha * a, b1 = -2 * c, b2 = 1 - alpha * a;
        a0 = 1 + alpha / a, a1 = -2 * c, a2 = 1 - alpha / a;
    } else {
        const double alpha = s / 2.0 * std::sqrt(2.0), root = 2.0 * std::sqrt(a) * alpha;
        const double sign = kind == Kind::LowShelf ? 1.0 : -1.0;  // a high shelf is a low one mirrored
        b0 = a * ((a + 1) - sign * (a - 1) * c + root);
        b1 = sign * 2 * a * ((a - 1) - sign * (a + 1) * c);
        b2 = a * ((a + 1) - sign * (a - 1) * c - root);
        a0 = (a + 1) + sign * (a - 1) * c + root;
        a1 = -sign * 2 * ((a - 1) + sign * (a + 1) * c);
        a2 = (a + 1) + sign * (a - 1) * c - root;
    }
    return {b0 / a0, b1 / a0, b2 / a0, a1 / a0, a2 / a0};
}

double sectionDb(const Section& k, double cosW) {
    const double cos2W = 2.0 * cosW * cosW - 1.0;
    const double num = k.b0 * k.b0 + k.b1 * k.b1 + k.b2 * k.b2 + 2.0 * (k.b0 * k.b1 + k.b1 * k.b2) * cosW +
                       2.0 * k.b0 * k.b2 * cos2W;
    const double den = 1.0 + k.a1 * k.a1 + k.a2 * k.a2 + 2.0 * (k.a1 + k.a1 * k.a2) * cosW + 2.0 * k.a2 * cos2W;
    return toDb(num / den);
}

// Solves m x = v (n unknowns, m symmetric positive definite) by Gaussian elimination.
template <std::size_t N>
std::array<double, N> solve(std::array<std::array<double, N>, N> m, std::array<double, N> v) {
    for (std::size_t i = 0; i < N; ++i)
        for (std::size_t r = i + 1; r < N; ++r) {
            const double f = m[r][i] / m[i][i];
            for (std::size_t c = i; c < N; ++c) m[r][c] -= f * m[i][c];
            v[r] -= f * v[i];
        }
    std::array<double, N> x{};
    for (std::size_t i = N; i-- > 0;) {
        double sum = v[i];
        for (std::size_t c = i + 1; c < N; ++c) sum -= m[i][c] * x[c];
        x[i] = sum / m[i][i];
    }
    return x;
}

}  // namespace

double matchFrequency(int point) { return 1000.0 * exactExp(kLn2 * (point - 28) / 6.0); }

bool ToneCurve::learned() const { return std::find(held.begin(), held.end(), false) != held.end(); }
bool ToneCurve::flat() const {
    return std::all_of(db.begin(), db.end(), [](double v) { return v == 0.0; });
}

ToneCurve learnToneMatch(const LongTermSpectra& spectra) {
    ToneCurve curve;
    const std::size_t bins = spectra.di->size();
    std::array<double, kMatchPoints> diPower{};
    for (int k = 0; k < kMatchPoints; ++k) {
        // The bins within a sixth of an octave of the frequency (a band a third of an octave
        // wide, as a third-octave analysis reads it), or the nearest one.
        const double hz = matchFrequency(k), step = exactExp(kLn2 / 6.0);
        auto lo = static_cast<std::size_t>(std::ceil(hz / step / spectra.binHz));
        auto hi = static_cast<std::size_t>(std::ceil(hz * step / spectra.binHz));
        if (hi <= lo) lo = static_cast<std::size_t>(std::nearbyint(hz / spectra.binHz)), hi = lo + 1;
        double mic = 0, di = 0, shared = 0;
        for (std::size_t b = std::max<std::size_t>(lo, 1); b < std::min(hi, bins); ++b)
            mic += (*spectra.microphone)[b], di += (*spectra.di)[b], shared += std::abs((*spectra.cross)[b]);
        diPower[static_cast<std::size_t>(k)] = di;
        if (!(mic > 0 && di > 0) || shared * shared < kShared * mic * di) continue;
        curve.db[static_cast<std::size_t>(k)] = toDb(mic / di);  // limited once the levels are set aside
        curve.held[static_cast<std::size_t>(k)] = false;
    }
    if (!curve.learned()) return curve;
    // A held band takes the nearest band that says something (the lower one of two as near).
    const ToneCurve said = curve;
    for (int k = 0; k < kMatchPoints; ++k) {
        if (!said.held[static_cast<std::size_t>(k)]) continue;
        for (int d = 1; d < kMatchPoints; ++d) {
            const int below = k - d, above = k + d;
            if (below >= 0 && !said.held[static_cast<std::size_t>(below)]) {
                curve.db[static_cast<std::size_t>(k)] = said.db[static_cast<std::size_t>(below)];
                break;
            }
            if (above < kMatchPoints && !said.held[static_cast<std::size_t>(above)]) {
                curve.db[static_cast<std::size_t>(k)] = said.db[static_cast<std::size_t>(above)];
                break;
            }
        }
    }
    // The DI's level kept: its power through the curve equals its power before.
    double before = 0, after = 0;
    for (std::size_t k = 0; k < kMatchPoints; ++k) {
        const double g = fromDb(curve.db[k]);
        before += diPower[k], after += diPower[k] * g * g;
    }
    const double shift = before > 0 && after > 0 ? toDb(after / before) : 0.0;
    for (double& v : curve.db) v = std::clamp(v - shift, -kMatchLimitDb, kMatchLimitDb);
    return curve;
}

constexpr double kBetweenCentres = 0.25;

SectionGains fitSectionGains(const ToneCurve& curve, double rate) {
    constexpr auto n = static_cast<std::size_t>(kMatchSections);
    std::array<double, n> gains{};
    if (curve.flat()) return gains;
    // The points fitted: the curve's, and flat beyond it on either side up to 0.45 of the rate.
    // Those on the third-octave centres, one at each section's place, count fully; those between
    // them, which read half of each neighbour's band, count a tenth: the sections cannot follow a
    // wiggle that fine, and fitted to it alike they would miss the bands themselves.
    std::vector<double> cosW, target, weight;
    for (int k = -6; k < kMatchPoints + 6; ++k) {
        const double hz = matchFrequency(k);
        if (hz > 0.45 * rate) break;
        cosW.push_back(cosPi(2.0 * hz / rate));
        target.push_back(curve.db[static_cast<std::size_t>(std::clamp(k, 0, kMatchPoints - 1))]);
        weight.push_back(k % 2 == 0 ? 1.0 : kBetweenCentres);
    }
    // Each section's response at 1 dB: the linear model of the fit, corrected a few times
    // against the cascade's true response (a section's shape changes a little with its gain).
    std::vector<std::array<double, n>> unit(target.size());
    std::array<std::array<double, n>, n> normal{};
    for (std::size_t i = 0; i < n; ++i) {
        const int s = static_cast<int>(i);
        const Section one = design(kindOf(s), sectionHz(s), 1.0, rate);
        for (std::size_t p = 0; p < target.size(); ++p) unit[p][i] = sectionDb(one, cosW[p]);
    }
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = 0; j < n; ++j)
            for (std::size_t p = 0; p < target.size(); ++p) normal[i][j] += weight[p] * unit[p][i] * unit[p][j];
        normal[i][i] += 1e-3;  // keeps a section the points hardly see from wandering
    }
    for (int round = 0; round < 6; ++round) {
        const Sections now = sectionsOf(gains, 1.0, rate);
        std::array<double, n> pull{};
        for (std::size_t p = 0; p < target.size(); ++p) {
            double db = 0;
            for (const Section& k : now) db += sectionDb(k, cosW[p]);
            for (std::size_t i = 0; i < n; ++i) pull[i] += weight[p] * unit[p][i] * (target[p] - db);
        }
        const std::array<double, n> step = solve(normal, pull);
        for (std::size_t i = 0; i < n; ++i)
            if (std::isfinite(step[i])) gains[i] = std::clamp(gains[i] + step[i], -24.0, 24.0);
    }
    return gains;
}

Sections sectionsOf(const SectionGains& gains, double amount, double rate) {
    Sections out{};
    amount = std::clamp(amount, 0.0, 1.0);
    if (!(amount > 0.0)) return out;
    for (std::size_t i = 0; i < out.size(); ++i)
        if (gains[i] != 0.0)
            out[i] = design(kindOf(static_cast<int>(i)), sectionHz(static_cast<int>(i)), amount * gains[i], rate);
    return out;
}

Sections matchSections(const ToneCurve& curve, double amount, double rate) {
    return sectionsOf(fitSectionGains(curve, rate), amount, rate);
}

ToneSteps toneStepsNow = toneSteps128;

ToneFilter::ToneFilter() {
    set(Sections{});
    reset();
    work_.fill(0.0);
}

void ToneFilter::set(const Sections& sections) {
    gain_ = 1;
    for (int lane = 0; lane < kToneLanes; ++lane) {
        const int s = kToneLanes - 1 - lane;
        const Section c = s < kMatchSections ? sections[static_cast<std::size_t>(s)] : Section{};
        lanes_.b1[lane] = c.b1 / c.b0, lanes_.b2[lane] = c.b2 / c.b0, lanes_.a1[lane] = c.a1, lanes_.a2[lane] = c.a2;
        gain_ *= c.b0;
    }
}

void ToneFilter::reset() {
    std::fill(std::begin(lanes_.z0), std::end(lanes_.z0), 0.0);
    std::fill(std::begin(lanes_.z1), std::end(lanes_.z1), 0.0);
}

// Transposed direct form II, its b0 taken out; a section past the filter's passes v on.
double ToneFilter::section(int s, double v) {
    if (s >= kMatchSections) return v;
    const int l = kToneLanes - 1 - s;
    const double y = v + lanes_.z0[l];
    lanes_.z0[l] = lanes_.b1[l] * v - lanes_.a1[l] * y + lanes_.z1[l];
    lanes_.z1[l] = lanes_.b2[l] * v - lanes_.a2[l] * y;
    return y;
}

double ToneFilter::step(double v) {
    for (int s = 0; s < kMatchSections; ++s) v = section(s, v);
    return v * gain_;
}

template <class Sample>
void ToneFilter::run(Sample* x, std::size_t frames) {
    for (std::size_t done = 0; done < frames;) {
        const std::size_t n = std::min(kChunk, frames - done);
        for (std::size_t j = 0; j < n; ++j) work_[j] = static_cast<double>(x[done + j]);
        toneStepsNow(lanes_, work_.data(), n);
        for (std::size_t j = 0; j < n; ++j) x[done + j] = static_cast<Sample>(work_[j] * gain_);
        done += n;
    }
}

template void ToneFilter::run(float*, std::size_t);
template void ToneFilter::run(double*, std::size_t);

std::complex<double> sectionsResponse(const Sections& sections, double hz, double rate) {
    const std::complex<double> z1 = std::polar(1.0, -2.0 * std::numbers::pi * hz / rate), z2 = z1 * z1;
    std::complex<double> h = 1.0;
    for (const Section& k : sections) h *= (k.b0 + k.b1 * z1 + k.b2 * z2) / (1.0 + k.a1 * z1 + k.a2 * z2);
    return h;
}

double sectionsDb(const Sections& sections, double hz, double rate) {
    const double cosW = cosPi(2.0 * hz / rate);
    double db = 0;
    for (const Section& k : sections) db += sectionDb(k, cosW);
    return db;
}

}  // namespace align

namespace align {

void ToneStage::prepare(double rate) {
    step_ = 1.0 / std::max(1.0, kCrossfadeSeconds * rate);
    reset();
}

void ToneStage::reset() {
    for (ToneFilter& f : filters_) f.reset();
    if (fading_) {
        now_ = 1 - now_, on_ = nextOn_;
        fading_ = false;
    }
    if (pending_) jumpTo(pendingSections_, pendingOn_);
}

void ToneStage::jumpTo(const Sections& sections, bool on) {
    fading_ = pending_ = false;
    filters_[now_].set(sections);
    filters_[now_].reset();
    on_ = on;
}

void ToneStage::set(const Sections& sections, bool on) {
    pendingSections_ = sections, pendingOn_ = on, pending_ = true;
    if (!fading_) startFade();
}

void ToneStage::startFade() {
    pending_ = false;
    if (!on_ && !pendingOn_) return;  // off to off: nothing to hear
    ToneFilter& next = filters_[1 - now_];
    next.set(pendingSections_);
    // The new filter goes on from where the old one is (its state is that of the same input
    // through nearly the same sections), or from rest when the old one was off.
    const ToneLanes& from = filters_[now_].lanes_;
    std::copy(std::begin(from.z0), std::end(from.z0), std::begin(next.lanes_.z0));
    std::copy(std::begin(from.z1), std::end(from.z1), std::begin(next.lanes_.z1));
    if (!on_) next.reset();
    nextOn_ = pendingOn_, fading_ = true, fade_ = 0;
}

template <class Sample>
void ToneStage::run(Sample* x, std::size_t frames) {
    for (std::size_t done = 0; done < frames;) {
        if (!fading_) {
            if (on_) filters_[now_].process(x + done, frames - done);
            return;
        }
        const std::size_t n = std::min(kChunk, frames - done);
        for (std::size_t j = 0; j < n; ++j) before_[j] = after_[j] = static_cast<double>(x[done + j]);
        if (on_) filters_[now_].process(before_.data(), n);
        if (nextOn_) filters_[1 - now_].process(after_.data(), n);
        std::size_t j = 0;
        for (; j < n && fade_ < 1.0; ++j) {
            fade_ = std::min(1.0, fade_ + step_);
            x[done + j] = static_cast<Sample>(before_[j] + fade_ * (after_[j] - before_[j]));
        }
        if (fade_ >= 1.0) {
            // Faded: the new filter is the one heard, from the next sample on.
            for (; j < n; ++j) x[done + j] = static_cast<Sample>(after_[j]);
            now_ = 1 - now_, on_ = nextOn_, fading_ = false;
            if (pending_) startFade();
        }
        done += n;
    }
}

template void ToneStage::run(float*, std::size_t);
template void ToneStage::run(double*, std::size_t);

}  // namespace align
