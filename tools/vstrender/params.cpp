#include "tools/vstrender/params.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "effect/decoder_parameters.h"
#include "entry/embedded_decoder.h"

namespace vstrender {

namespace {

std::string trim(const std::string& text) {
    const auto begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) return "";
    return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

bool parseNumber(const std::string& text, double& value) {
    const std::string t = trim(text);
    if (t.empty()) return false;
    char* end = nullptr;
    value = std::strtod(t.c_str(), &end);
    return end == t.c_str() + t.size() && std::isfinite(value);
}

}  // namespace

bool findParameter(vsthost::Plugin& plugin, const std::string& name, VstInt32& index, std::string& error) {
    const VstInt32 count = plugin.numParams();
    double number = 0.0;
    if (parseNumber(name, number) && number == std::floor(number) && number >= 0 && number < count) {
        index = static_cast<VstInt32>(number);
        return true;
    }
    for (VstInt32 i = 0; i < count; ++i)
        if (lower(trim(plugin.parameterName(i))) == lower(trim(name))) {
            index = i;
            return true;
        }
    error = "unknown parameter \"" + name + "\"; the parameters are:";
    for (VstInt32 i = 0; i < count; ++i) error += "\n  " + std::to_string(i) + ": " + plugin.parameterName(i);
    return false;
}

std::string unitOf(vsthost::Plugin& plugin, VstInt32 index) {
    const std::string label = trim(plugin.parameterLabel(index));
    if (!label.empty()) return label;
    // The decoder tells a VST 2 host "dB" for only some of its levels; its own table knows them all.
    const auto& rows = decoder::kParameters;
    if (plugin.numParams() == static_cast<VstInt32>(rows.size()) && index >= 0 && index < plugin.numParams() &&
        plugin.parameterName(index) == rows[static_cast<std::size_t>(index)].name)
        return rows[static_cast<std::size_t>(index)].unit;
    return "";
}

namespace {

// `wanted` is `value` without its surrounding blanks, ending in ":n".
bool applyNormalised(vsthost::Plugin& plugin, VstInt32 index, const std::string& wanted, const std::string& value,
                     std::string& error) {
    const std::string name = plugin.parameterName(index);
    double x = 0.0;
    if (!parseNumber(wanted.substr(0, wanted.size() - 2), x)) {
        error = "\"" + value + "\" is not a normalised value for \"" + name + "\"";
        return false;
    }
    if (x < 0.0 || x > 1.0) {
        error = "\"" + name + "\" cannot be set to " + value + ": normalised values run from 0 to 1";
        return false;
    }
    plugin.setParameter(index, static_cast<float>(x));
    return true;
}

// A level whose bottom is far enough down to mean off: "-inf" names that bottom.
bool applyBottom(vsthost::Plugin& plugin, VstInt32 index, const std::string& unit, std::string& error) {
    const float original = plugin.getParameter(index);
    plugin.setParameter(index, 0.0f);
    const std::string bottomText = trim(plugin.parameterDisplay(index));
    double bottom = 0.0;
    if (unit == "dB" && parseNumber(bottomText, bottom) && bottom <= -100.0) return true;
    plugin.setParameter(index, original);
    error = "\"" + plugin.parameterName(index) + "\" has no -inf: " +
            (unit == "dB" ? "its range ends at " + bottomText + " dB" : std::string("it is not a level"));
    return false;
}

// A search of the normalised range for the setting whose display shows the wanted text or
// number, remembering the nearest number seen on the way.
class DisplaySearch {
public:
    DisplaySearch(vsthost::Plugin& plugin, VstInt32 index, const std::string& text)
        : plugin_(plugin), index_(index), text_(text), numeric_(parseNumber(text, target_)) {}

    // True as soon as a setting shows the wanted value; the plug-in is left there.
    bool run() {
        constexpr int kSteps = 20000;
        double previousShown = NAN;
        for (int i = 0; i <= kSteps; ++i) {
            const float x = static_cast<float>(i) / kSteps;
            double shown = 0.0;
            if (tryAt(x, shown)) return true;
            if (std::isnan(shown)) continue;
            // A continuous parameter may pass the value between two grid points: bisect.
            if (!std::isnan(previousShown) && (previousShown - target_) * (shown - target_) < 0 &&
                bisect(static_cast<float>(i - 1) / kSteps, x, shown > previousShown))
                return true;
            previousShown = shown;
        }
        return false;
    }
    // Inside the range but between two steps: the nearest step, said in `note`.
    bool settleOnNearest(const std::string& name, std::string& note) {
        if (!numeric_ || nearest_.empty() || !(target_ > lowest_ && target_ < highest_)) return false;
        plugin_.setParameter(index_, nearestAt_);
        note = "\"" + name + "\" moves in steps: " + text_ + " is set to " + nearest_;
        return true;
    }
    // What the error says the user could have asked for.
    std::string suggestion() const {
        if (!nearest_.empty()) return "; the nearest reachable value is " + nearest_;
        if (shownTexts_.empty() || shownTexts_.size() >= 64) return "";
        std::string list = "; it can be one of:";
        for (const std::string& shown : shownTexts_) list += " \"" + shown + "\"";
        return list;
    }

private:
    // Sets x; true when its display matches. `shown` is its number, or NaN for a word.
    bool tryAt(float x, double& shown) {
        plugin_.setParameter(index_, x);
        const std::string display = plugin_.parameterDisplay(index_);
        shown = NAN;
        if (matches(display)) return true;
        if (shownTexts_.size() < 64) shownTexts_.insert(trim(display));
        double number = 0.0;
        if (!numeric_ || !parseNumber(display, number)) return false;
        shown = number;
        consider(x, number, display);
        return false;
    }
    bool bisect(float low, float high, bool rising) {
        for (int k = 0; k < 40 && low < high; ++k) {
            const float middle = low + (high - low) / 2;
            double v = 0.0;
            if (tryAt(middle, v)) return true;
            if (std::isnan(v)) break;
            ((v < target_) == rising ? low : high) = middle;
        }
        return false;
    }
    bool matches(const std::string& display) const {
        double shown = 0.0;
        if (lower(trim(display)) == lower(text_)) return true;
        return numeric_ && parseNumber(display, shown) &&
               std::fabs(shown - target_) <= 1e-9 * std::max(1.0, std::fabs(target_));
    }
    void consider(float x, double shown, const std::string& display) {
        if (std::fabs(shown - target_) < nearestDistance_) {
            nearestDistance_ = std::fabs(shown - target_);
            nearest_ = trim(display);
            nearestAt_ = x;
        }
        lowest_ = std::min(lowest_, shown);
        highest_ = std::max(highest_, shown);
    }

    vsthost::Plugin& plugin_;
    VstInt32 index_;
    std::string text_;
    double target_ = 0.0;
    bool numeric_;
    std::string nearest_;
    float nearestAt_ = 0.0f;
    double nearestDistance_ = INFINITY, lowest_ = INFINITY, highest_ = -INFINITY;
    std::set<std::string> shownTexts_;
};

}  // namespace

bool applyParameterValue(vsthost::Plugin& plugin, VstInt32 index, const std::string& value, std::string& error,
                         std::string& note) {
    const std::string name = plugin.parameterName(index);
    const std::string wanted = trim(value);
    if (wanted.size() > 2 && wanted.compare(wanted.size() - 2, 2, ":n") == 0)
        return applyNormalised(plugin, index, wanted, value, error);

    // "-12 dB" means -12 when the parameter's unit is dB.
    std::string text = wanted;
    const std::string unit = unitOf(plugin, index);
    if (!unit.empty() && lower(text).size() > unit.size() &&
        lower(text).compare(text.size() - unit.size(), unit.size(), lower(unit)) == 0)
        text = trim(text.substr(0, text.size() - unit.size()));
    if (lower(text) == "-inf" || lower(text) == "-infinity") return applyBottom(plugin, index, unit, error);

    const float original = plugin.getParameter(index);
    DisplaySearch search(plugin, index, text);
    if (search.run() || search.settleOnNearest(name, note)) return true;
    plugin.setParameter(index, original);
    error = "\"" + name + "\" cannot be set to \"" + value + "\"" + search.suggestion();
    return false;
}

namespace {

// What a scan of the normalised range shows of one parameter.
struct Range {
    std::string low, high, step;
    std::vector<std::string> labels;  // for a parameter whose displays are words
};

Range scan(vsthost::Plugin& plugin, VstInt32 index) {
    constexpr int kSteps = 4000;
    Range range;
    std::vector<double> numbers;
    bool words = false;
    for (int i = 0; i <= kSteps; ++i) {
        plugin.setParameter(index, static_cast<float>(i) / kSteps);
        const std::string display = trim(plugin.parameterDisplay(index));
        double v = 0.0;
        if (parseNumber(display, v)) {
            numbers.push_back(v);
        } else {
            words = true;
            if (range.labels.empty() || range.labels.back() != display) range.labels.push_back(display);
        }
        if (i == 0) range.low = display;
        if (i == kSteps) range.high = display;
    }
    if (words) return range;
    range.labels.clear();
    // The step is the smallest change between neighbouring settings, as the display rounds it.
    double step = INFINITY;
    for (std::size_t i = 1; i < numbers.size(); ++i) {
        const double d = std::fabs(numbers[i] - numbers[i - 1]);
        if (d > 1e-9) step = std::min(step, d);
    }
    if (std::isfinite(step)) {
        char text[32];
        std::snprintf(text, sizeof text, "%g", std::round(step * 1e6) / 1e6);
        range.step = text;
    }
    return range;
}

}  // namespace

// The decoder's VST 3, CLAP and LV2 plug-ins have the DI's alignment and a bypass after the
// eleven; here the renderer's own options set the alignment.
std::string alignmentParameters() {
    std::string out = "\nIn the VST 3, CLAP and LV2 plug-ins, after these (here: --di-delay, --di-polarity, --align-di; "
                      "the bypass is the host's):\n";
    char line[512];
    for (const std::int32_t i : {vintrel::kDiDelay, vintrel::kDiPolarity, vintrel::kBypass}) {
        const decoder::Parameter& row = vintrel::kPluginParameters[static_cast<std::size_t>(i)];
        const std::string shown = vintrel::EmbeddedDecoder::textFor(i, row.defaultValue);
        const std::string span = row.isSwitch() ? "switch"
                                                : vintrel::EmbeddedDecoder::textFor(i, row.min) + " .. " +
                                                      vintrel::EmbeddedDecoder::textFor(i, row.max);
        std::snprintf(line, sizeof line, "%3d  %-20s %-26s %-18s %-5s %-9s %-4s\n", static_cast<int>(i), row.name,
                      shown.c_str(), span.c_str(), row.isSwitch() ? "-" : "0.0001", shown.c_str(), row.unit);
        out += line;
        if (row.isSwitch()) out += std::string("        values: ") + row.labels[0] + " | " + row.labels[1] + "\n";
    }
    return out;
}

std::string listPresets() {
    std::string out = "Factory presets of the guitar decoder (--preset NAME; every other setting at its default):\n";
    for (const vintrel::FactoryPreset& preset : vintrel::kFactoryPresets) {
        out += std::string("  ") + preset.name + "\n      " + preset.situation + "\n     ";
        bool any = false;
        for (std::size_t i = 0; i < preset.values.size(); ++i) {
            const decoder::Parameter& row = decoder::kParameters[i];
            if (preset.values[i] == row.defaultValue) continue;
            std::string value = vintrel::EmbeddedDecoder::textFor(static_cast<std::int32_t>(i), preset.values[i]);
            if (row.unit[0] != '\0') value += std::string(" ") + row.unit;
            out += std::string(any ? ", " : " ") + row.name + " " + value;
            any = true;
        }
        out += any ? "\n" : " (the defaults)\n";
    }
    return out;
}

std::string listParameters(vsthost::Plugin& plugin, vsthost::Plugin& fresh) {
    std::string out;
    char line[512];
    std::snprintf(line, sizeof line, "%3s  %-20s %-26s %-18s %-5s %-9s %-4s\n", "#", "name", "value", "range", "step",
                  "default", "unit");
    out += line;
    for (VstInt32 i = 0; i < plugin.numParams(); ++i) {
        const std::string defaultText = trim(fresh.parameterDisplay(i));
        const Range range = scan(fresh, i);
        const std::string unit = unitOf(plugin, i);
        std::string span = range.low + " .. " + range.high;
        if (!range.labels.empty()) span = "switch";
        std::snprintf(line, sizeof line, "%3d  %-20s %-26s %-18s %-5s %-9s %-4s\n", static_cast<int>(i),
                      plugin.parameterName(i).c_str(), trim(plugin.parameterDisplay(i)).c_str(), span.c_str(),
                      range.step.empty() ? "-" : range.step.c_str(), defaultText.c_str(), unit.c_str());
        out += line;
        if (!range.labels.empty()) {
            out += "     ";
            for (std::size_t k = 0; k < range.labels.size(); ++k)
                out += (k ? " | " : "   values: ") + range.labels[k];
            out += "\n";
        }
    }
    if (plugin.effectName() == vintrel::EmbeddedDecoder::identity().name) out += alignmentParameters();
    return out;
}

}  // namespace vstrender
