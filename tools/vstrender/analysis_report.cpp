#include "tools/vstrender/analysis_report.h"

#include <cmath>
#include <cstdarg>

namespace vstrender {

namespace {

constexpr double kAlignedSamples = 0.05;  // closer than this the DI is where it belongs
constexpr double kNotableLowEndLossDb = 1.0;
constexpr double kSideLouderDb = 6.0;
const char* const kMicrophones[] = {"mid", "side"};

std::string format(const char* pattern, ...) {
    char text[512];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(text, sizeof text, pattern, args);
    va_end(args);
    return text;
}

std::string db(double value, const char* unit) {
    return std::isfinite(value) ? format("%+.1f %s", value, unit) : std::string("-inf ") + unit;
}

std::string kiloHertz(int rate) { return format("%g kHz", rate / 1000.0); }

double milliseconds(double samples, int rate) { return samples * 1000.0 / rate; }

// One microphone's estimate in a line. The side's sign only says which of its lobes faces the
// guitar, so its polarity is left to the JSON.
std::string estimateLine(const align::DiEstimate& e, const Analysis& a, bool mid) {
    if (e.silent) return "nothing to compare (a silent channel)";
    if (e.atEdge) return format("strongest at the edge of the window (correlation %.2f): no estimate", e.correlation);
    if (!e.reliable())
        return format("no reliable estimate (correlation %.2f, below %.2f)", std::abs(e.correlation),
                      align::kReliableCorrelation);
    const std::string where = std::abs(e.delaySamples) < kAlignedSamples
                                  ? format("aligned (within %.2f samples)", kAlignedSamples)
                                  : describeDelay(e.delaySamples, a.sampleRate, mid ? "the mid microphone" : "the side microphone");
    return where + (!mid ? "" : e.inverted() ? ", inverted polarity" : ", same polarity") +
           format(", correlation %.2f", std::abs(e.correlation));
}

void diAdvice(const Analysis& a, std::vector<std::string>& out) {
    if (a.di.peak == 0) {
        out.push_back("The DI channel is silent: there is nothing to align.");
        return;
    }
    if (a.mid.peak == 0) {
        out.push_back("The mid microphone is silent: the DI cannot be placed against it.");
        return;
    }
    const align::DiEstimate& e = a.diAgainst[0];
    if (e.atEdge) {
        out.push_back("The DI is more than 10 ms away: check that the files belong together.");
        return;
    }
    if (!e.reliable()) {
        out.push_back(format("No reliable estimate of the DI's delay: the DI and the mid microphone share too little "
                             "(correlation %.2f, below %.2f). Set --di-delay by ear if the DI sounds late or early.",
                             std::abs(e.correlation), align::kReliableCorrelation));
        return;
    }
    const char* polarity = e.inverted() ? "inverted polarity" : "same polarity";
    if (std::abs(e.delaySamples) < kAlignedSamples) {
        out.push_back(e.inverted() ? "The DI is aligned with the mid microphone but its polarity is inverted: invert "
                                     "the DI (--di-polarity invert), or render with --align-di."
                                   : "The DI is aligned with the mid microphone, same polarity: nothing to do.");
        return;
    }
    const std::string move = e.delaySamples > 0 ? "delay the DI by that much" : "move the DI earlier by that much";
    out.push_back(describeDelay(e.delaySamples, a.sampleRate, "the mid microphone") + ", " + polarity + ": " +
                  (e.inverted() ? "invert the DI and " + move : move) + ", or render with --align-di");
}

void levelAdvice(const Analysis& a, std::vector<std::string>& out) {
    if (a.diMixLowEndLossDb && *a.diMixLowEndLossDb >= kNotableLowEndLossDb)
        out.push_back(format("Mixed into the pair, the DI and the microphones lose %.1f dB of low end (below 1 kHz) "
                             "against adding in phase: align the DI.",
                             *a.diMixLowEndLossDb));
    const double sideToMid = a.side.rmsDb(a.frames) - a.mid.rmsDb(a.frames);
    if (std::isfinite(sideToMid) && sideToMid > kSideLouderDb)
        out.push_back(format("The side is %.1f dB louder than the mid: check the microphones' gains, and that mid "
                             "and side are not swapped.",
                             sideToMid));
    if (a.pairCorrelation < 0)
        out.push_back(format("The decoded pair is more out of phase than in phase (correlation %+.2f): check the side "
                             "microphone's polarity or narrow the stereo width.",
                             a.pairCorrelation));
    if (!a.largestMainTrimDb) return;
    const double tp = a.loudness.truePeakDbtp, wanted = *a.mainTrimDb + (-1.0 - tp);
    if (tp > -1.0 && wanted < a.mainTrimBottomDb)
        out.push_back(format("The decoded pair's true peak is %+.1f dBTP: even the main output trim's lowest, %+.1f dB, "
                             "leaves it above -1 dBTP; lower the output trim too.",
                             tp, a.mainTrimBottomDb));
    else if (tp > -1.0)
        out.push_back(format("The decoded pair's true peak is %+.1f dBTP: set the main output trim to %+.1f dB or lower "
                             "to keep it at or below -1 dBTP.",
                             tp, *a.largestMainTrimDb));
    else if (*a.largestMainTrimDb > *a.mainTrimDb)
        out.push_back(format("Headroom: the main output trim can go up to %+.1f dB%s with the true peak at or below -1 dBTP.",
                             *a.largestMainTrimDb, *a.largestMainTrimDb >= a.mainTrimTopDb ? " (its top)" : ""));
}

// JSON, written by hand: a handful of fields, strings escaped, non-finite numbers null.
class Json {
public:
    void open(const char* key, char bracket) {
        field(key);
        text_ += bracket;
        first_ = true;
    }
    void close(char bracket) {
        text_ += bracket;
        first_ = false;
    }
    void number(const char* key, double v, const char* pattern = "%.6g") {
        field(key);
        text_ += std::isfinite(v) ? format(pattern, v) : "null";
    }
    void null(const char* key) {
        field(key);
        text_ += "null";
    }
    void boolean(const char* key, bool v) {
        field(key);
        text_ += v ? "true" : "false";
    }
    void string(const char* key, const std::string& s) {
        field(key);
        text_ += '"';
        for (unsigned char c : s) {
            if (c == '"' || c == '\\')
                text_ += {'\\', static_cast<char>(c)};
            else if (c < 0x20)
                text_ += format("\\u%04x", c);
            else
                text_ += static_cast<char>(c);
        }
        text_ += '"';
    }
    std::string text() const { return text_ + "\n"; }

private:
    void field(const char* key) {
        if (!first_) text_ += ", ";
        first_ = false;
        if (key) text_ += std::string("\"") + key + "\": ";
    }
    std::string text_;
    bool first_ = true;
};

void jsonLevel(Json& j, const char* key, const Level& level, std::uint64_t frames) {
    j.open(key, '{');
    j.number("rms_dbfs", level.rmsDb(frames), "%.3f");
    j.number("peak_dbfs", level.peakDb(), "%.3f");
    j.close('}');
}

void jsonEstimate(Json& j, const char* key, const align::DiEstimate& e, int rate) {
    j.open(key, '{');
    j.boolean("reliable", e.reliable());
    if (e.reliable()) {
        j.number("delay_ms", milliseconds(e.delaySamples, rate), "%.4f");
        j.number("delay_samples", e.delaySamples, "%.4f");
        j.string("polarity", e.inverted() ? "inverted" : "same");
    } else {
        for (const char* k : {"delay_ms", "delay_samples", "polarity"}) j.null(k);
    }
    if (e.silent)
        j.null("correlation");
    else
        j.number("correlation", e.correlation, "%.4f");
    j.boolean("at_window_edge", e.atEdge);
    j.boolean("silent", e.silent);
    j.close('}');
}

}  // namespace

std::string describeDelay(double delaySamples, int sampleRate, const char* against) {
    return format("DI %s %s by %.2f ms (%.1f samples at %s)", delaySamples >= 0 ? "leads" : "lags", against,
                  std::abs(milliseconds(delaySamples, sampleRate)), std::abs(delaySamples), kiloHertz(sampleRate).c_str());
}

std::string describeCurve(const align::ToneCurve& curve) {
    if (!curve.learned())
        return "held flat: the DI and the mid microphone share too little to say how they differ, so the DI is left as it is";
    std::size_t lift = 0, cut = 0;
    for (std::size_t k = 0; k < curve.db.size(); ++k) {
        if (curve.db[k] > curve.db[lift]) lift = k;
        if (curve.db[k] < curve.db[cut]) cut = k;
    }
    auto hz = [](std::size_t k) {
        const double f = align::matchFrequency(static_cast<int>(k));
        return f < 1000 ? format("%.0f Hz", f) : format("%.1f kHz", f / 1000);
    };
    std::string held;
    for (std::size_t k = 0; k < curve.held.size();) {
        if (!curve.held[k]) {
            ++k;
            continue;
        }
        std::size_t end = k;
        while (end + 1 < curve.held.size() && curve.held[end + 1]) ++end;
        held += (held.empty() ? "" : ", ") + (k == end ? "at " + hz(k) : hz(k) + " to " + hz(end));
        k = end + 1;
    }
    return format("%+.1f dB at %s, %+.1f dB at %s", curve.db[lift], hz(lift).c_str(), curve.db[cut], hz(cut).c_str()) +
           (held.empty() ? "" : "; held where the two share too little: " + held);
}

std::vector<std::string> advice(const Analysis& a) {
    std::vector<std::string> out;
    diAdvice(a, out);
    levelAdvice(a, out);
    return out;
}

// The match --match-di would learn and what it would do, band by band.
void printTone(FILE* out, const ToneFindings& t) {
    std::fprintf(out, "\nDI tone match (learned from the mid microphone, as --match-di does)\n  %s\n",
                 describeCurve(t.curve).c_str());
    std::fprintf(out, "  DI against the mid, third-octave bands (dB, their overall difference taken out):\n");
    std::fprintf(out, "  %9s %8s %8s\n", "band", "before", "after");
    // The bands by their usual names: 80 Hz, 100 Hz, 125 Hz ... 10 kHz.
    static const char* const kNames[] = {"80 Hz", "100 Hz", "125 Hz", "160 Hz", "200 Hz", "250 Hz", "315 Hz", "400 Hz",
                                         "500 Hz", "630 Hz", "800 Hz", "1 kHz", "1.25 kHz", "1.6 kHz", "2 kHz", "2.5 kHz",
                                         "3.15 kHz", "4 kHz", "5 kHz", "6.3 kHz", "8 kHz", "10 kHz"};
    for (std::size_t b = 0; b < t.bandHz.size(); ++b) {
        const auto name = static_cast<std::size_t>(std::lround(3.0 * std::log2(t.bandHz[b] / 1000.0)) + 11);
        std::fprintf(out, "  %9s %+8.1f %+8.1f\n", name < std::size(kNames) ? kNames[name] : "?", t.beforeDb[b], t.afterDb[b]);
    }
    if (t.matchedAgainstMid.reliable())
        std::fprintf(out, "  matched and lined up: the DI %.3f samples from the mid microphone\n",
                     std::round(t.matchedAgainstMid.delaySamples * 1000.0) / 1000.0 + 0.0);
    if (t.diMixLowEndLossDb)
        std::fprintf(out, "  DI mixed into the pair, matched and lined up: low end (below 1 kHz) %.1f dB under the mics and DI in phase\n",
                     *t.diMixLowEndLossDb);
}

void printAnalysis(FILE* out, const Analysis& a) {
    const double seconds = static_cast<double>(a.frames) / a.sampleRate;
    std::fprintf(out, "Take: %s (%s, %d:%06.3f, %llu frames)\n", a.take.c_str(), kiloHertz(a.sampleRate).c_str(),
                 static_cast<int>(seconds / 60), std::fmod(seconds, 60.0), static_cast<unsigned long long>(a.frames));
    std::fprintf(out, "Settings: %s\n", a.settings.c_str());
    if (a.shift.any())
        std::fprintf(out, "DI moved before the analysis: %.2f ms (%.2f samples)%s\n",
                     milliseconds(a.shift.delaySamples, a.sampleRate), a.shift.delaySamples,
                     a.shift.invert ? ", polarity inverted" : "");
    std::fprintf(out, "\nDI alignment (searched 10 ms either way, %d samples)\n", a.windowSamples);
    for (std::size_t m = 0; m < a.diAgainst.size(); ++m)
        std::fprintf(out, "  against %-5s %s\n", kMicrophones[m],
                     estimateLine(a.diAgainst[m], a, m == 0).c_str());

    std::fprintf(out, "\nBalance\n");
    const std::pair<const char*, const Level*> levels[] = {
        {"mid", &a.mid}, {"side", &a.side}, {"DI", &a.di}, {"left", &a.left}, {"right", &a.right}};
    for (const auto& [name, level] : levels)
        std::fprintf(out, "  %-6s RMS %-12s peak %s\n", name, db(level->rmsDb(a.frames), "dBFS").c_str(),
                     db(level->peakDb(), "dBFS").c_str());
    std::fprintf(out, "  side to mid %s\n", db(a.side.rmsDb(a.frames) - a.mid.rmsDb(a.frames), "dB").c_str());
    std::fprintf(out, "  decoded pair: correlation %+.2f, mono-sum loss %.1f dB\n", a.pairCorrelation, a.monoSumLossDb);
    if (a.diMixLowEndLossDb)
        std::fprintf(out, "  DI mixed into the pair: low end (below 1 kHz) %.1f dB under the mics and DI in phase\n",
                     *a.diMixLowEndLossDb);

    if (a.tone) printTone(out, *a.tone);

    std::fprintf(out, "\nLoudness of the decoded pair (EBU R 128)\n");
    if (std::isfinite(a.loudness.integratedLufs))
        std::fprintf(out, "  integrated %s, range %.1f LU\n", db(a.loudness.integratedLufs, "LUFS").c_str(),
                     a.loudness.rangeLu);
    else
        std::fprintf(out, "  integrated: too short or too quiet to measure (it needs 0.4 s above -70 LUFS)\n");
    std::fprintf(out, "  true peak %s\n", db(a.loudness.truePeakDbtp, "dBTP").c_str());
    if (a.largestMainTrimDb)
        std::fprintf(out, "  main output trim %+.1f dB now; the largest that keeps the true peak at or below -1 dBTP: %+.1f dB\n",
                     *a.mainTrimDb, *a.largestMainTrimDb);

    std::fprintf(out, "\nWhat to do\n");
    for (const std::string& line : advice(a)) std::fprintf(out, "  - %s\n", line.c_str());
}

void jsonTone(Json& j, const ToneFindings& t) {
    j.open("di_tone_match", '{');
    j.boolean("learned", t.curve.learned());
    j.open("curve_db", '[');
    for (double v : t.curve.db) j.number(nullptr, v, "%.3f");
    j.close(']');
    j.open("held", '[');
    for (bool held : t.curve.held) j.boolean(nullptr, held);
    j.close(']');
    j.open("third_octave_bands", '[');
    for (std::size_t b = 0; b < t.bandHz.size(); ++b) {
        j.open(nullptr, '{');
        j.number("hz", t.bandHz[b], "%.1f");
        j.number("di_to_mid_before_db", t.beforeDb[b], "%.3f");
        j.number("di_to_mid_after_db", t.afterDb[b], "%.3f");
        j.close('}');
    }
    j.close(']');
    j.number("matched_delay_samples", t.matchedAgainstMid.reliable() ? t.matchedAgainstMid.delaySamples : NAN, "%.4f");
    j.number("di_mix_low_end_loss_after_db", t.diMixLowEndLossDb.value_or(NAN), "%.3f");
    j.close('}');
}

std::string analysisJson(const Analysis& a) {
    Json j;
    j.open(nullptr, '{');
    j.string("take", a.take);
    j.number("sample_rate_hz", a.sampleRate, "%.0f");
    j.number("frames", static_cast<double>(a.frames), "%.0f");
    j.number("duration_s", static_cast<double>(a.frames) / a.sampleRate, "%.6f");
    j.string("settings", a.settings);
    j.open("di_shift", '{');
    j.number("delay_samples", a.shift.delaySamples, "%.4f");
    j.number("delay_ms", milliseconds(a.shift.delaySamples, a.sampleRate), "%.4f");
    j.boolean("polarity_inverted", a.shift.invert);
    j.close('}');
    j.open("di_alignment", '{');
    j.number("search_window_ms", align::kSearchMilliseconds, "%.1f");
    j.number("search_window_samples", a.windowSamples, "%.0f");
    j.number("reliable_correlation", align::kReliableCorrelation, "%.2f");
    for (std::size_t m = 0; m < a.diAgainst.size(); ++m) jsonEstimate(j, kMicrophones[m], a.diAgainst[m], a.sampleRate);
    j.close('}');
    j.open("balance", '{');
    jsonLevel(j, "mid", a.mid, a.frames);
    jsonLevel(j, "side", a.side, a.frames);
    jsonLevel(j, "di", a.di, a.frames);
    jsonLevel(j, "left", a.left, a.frames);
    jsonLevel(j, "right", a.right, a.frames);
    j.number("side_to_mid_db", a.side.rmsDb(a.frames) - a.mid.rmsDb(a.frames), "%.3f");
    j.number("pair_correlation", a.pairCorrelation, "%.4f");
    j.number("mono_sum_loss_db", a.monoSumLossDb, "%.3f");
    j.number("di_mix_low_end_loss_db", a.diMixLowEndLossDb.value_or(NAN), "%.3f");
    j.close('}');
    if (a.tone) jsonTone(j, *a.tone);
    j.open("loudness", '{');
    j.number("integrated_lufs", a.loudness.integratedLufs, "%.3f");
    j.number("range_lu", a.loudness.rangeLu, "%.3f");
    j.number("true_peak_dbtp", a.loudness.truePeakDbtp, "%.3f");
    j.number("main_output_trim_db", a.mainTrimDb.value_or(NAN), "%.1f");
    j.number("largest_main_output_trim_db", a.largestMainTrimDb.value_or(NAN), "%.1f");
    j.close('}');
    j.open("advice", '[');
    for (const std::string& line : advice(a)) j.string(nullptr, line);
    j.close(']');
    j.close('}');
    return j.text();
}

}  // namespace vstrender
