#include "tools/vstrender/params.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>

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

bool applyParameterValue(vsthost::Plugin& plugin, VstInt32 index, const std::string& value, std::string& error) {
    const std::string name = plugin.parameterName(index);
    const std::string wanted = trim(value);
    if (wanted.size() > 2 && wanted.compare(wanted.size() - 2, 2, ":n") == 0) {
        double x = 0.0;
        if (!parseNumber(wanted.substr(0, wanted.size() - 2), x)) {
            error = "\"" + value + "\" is not a normalised value for \"" + name + "\"";
            return false;
        }
        plugin.setParameter(index, static_cast<float>(x));
        return true;
    }

    // "-12 dB" means -12 when the parameter's unit is dB.
    std::string text = wanted;
    const std::string label = trim(plugin.parameterLabel(index));
    if (!label.empty() && lower(text).size() > label.size() &&
        lower(text).compare(text.size() - label.size(), label.size(), lower(label)) == 0)
        text = trim(text.substr(0, text.size() - label.size()));
    double target = 0.0;
    const bool numeric = parseNumber(text, target);
    auto matches = [&](const std::string& display) {
        double shown = 0.0;
        if (lower(trim(display)) == lower(text)) return true;
        return numeric && parseNumber(display, shown) &&
               std::fabs(shown - target) <= 1e-9 * std::max(1.0, std::fabs(target));
    };

    const float original = plugin.getParameter(index);
    constexpr int kSteps = 20000;
    std::string nearest;
    double nearestDistance = INFINITY;
    std::set<std::string> shownTexts;
    double previousShown = NAN;
    for (int i = 0; i <= kSteps; ++i) {
        const float x = static_cast<float>(i) / kSteps;
        plugin.setParameter(index, x);
        const std::string display = plugin.parameterDisplay(index);
        if (matches(display)) return true;
        if (shownTexts.size() < 64) shownTexts.insert(trim(display));
        double shown = 0.0;
        if (!numeric || !parseNumber(display, shown)) continue;
        if (std::fabs(shown - target) < nearestDistance) {
            nearestDistance = std::fabs(shown - target);
            nearest = trim(display);
        }
        // A continuous parameter may pass the value between two grid points: bisect.
        if (!std::isnan(previousShown) && (previousShown - target) * (shown - target) < 0) {
            float low = static_cast<float>(i - 1) / kSteps, high = x;
            const bool rising = shown > previousShown;
            for (int k = 0; k < 40 && low < high; ++k) {
                const float middle = low + (high - low) / 2;
                plugin.setParameter(index, middle);
                const std::string between = plugin.parameterDisplay(index);
                if (matches(between)) return true;
                double v = 0.0;
                if (!parseNumber(between, v)) break;
                ((v < target) == rising ? low : high) = middle;
            }
        }
        previousShown = shown;
    }
    plugin.setParameter(index, original);
    error = "\"" + name + "\" cannot be set to \"" + value + "\"";
    if (!nearest.empty()) {
        error += "; the nearest reachable value is " + nearest;
    } else if (!shownTexts.empty() && shownTexts.size() < 64) {
        error += "; it can be one of:";
        for (const std::string& shown : shownTexts) error += " \"" + shown + "\"";
    }
    return false;
}

std::string listParameters(vsthost::Plugin& plugin) {
    std::string out;
    char line[256];
    for (VstInt32 i = 0; i < plugin.numParams(); ++i) {
        std::snprintf(line, sizeof line, "%3d  %-24s %-28s %s\n", static_cast<int>(i), plugin.parameterName(i).c_str(),
                      plugin.parameterDisplay(i).c_str(), plugin.parameterLabel(i).c_str());
        out += line;
    }
    return out;
}

}  // namespace vstrender
