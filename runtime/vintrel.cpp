#include "runtime/vintrel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "runtime/vest_services.h"
#include "runtime/text.h"

std::int32_t CVintrelDescription::AddParameter(std::int32_t index, double* mirror, double defaultValue, double min,
                                               double max, double step, const std::string& path,
                                               const std::string& description, const std::string& label,
                                               const std::string& name) {
    // A row's Index is 0 to 127; the mask keeps a stray one inside Sliders.
    index &= 127;
    Sliders[static_cast<std::size_t>(index)] = defaultValue;

    CVintrelSlider row;
    row.Index = index;
    row.Mirror = mirror;
    row.Default = defaultValue;
    row.Min = min;
    row.Max = max;
    row.Step = step;
    row.Path = path;
    row.Description = description;
    row.Label = label;
    row.Name = name;
    SliderInfos.push_back(std::move(row));

    CVintrelSlider& added = SliderInfos.back();
    const auto position = static_cast<std::int32_t>(SliderInfos.size() - 1);
    if (added.Resolved) return position;
    added.Resolved = true;
    if (added.Path.empty()) return position;

    listDataFiles(added);
    if (added.Labels.empty()) added.Labels.emplace_back("(No Data Files)");
    added.Min = 0.0;
    added.Max = static_cast<double>(added.Labels.size()) - 1.0;
    added.Default = 0.0;
    added.Step = 0.5;
    return position;
}

// A file-list row offers the regular files of a directory beside the module as its labels.
void CVintrelDescription::listDataFiles(CVintrelSlider& slider) {
    std::string relative = slider.Path;
    if (relative.front() == '\\' || relative.front() == '/') relative.erase(0, 1);
    std::string directory = vintrel::moduleDirectory() + relative;
    // Entry names are joined to the directory with a separator even when Path lacks one.
    if (!directory.empty() && directory.back() != '/' && directory.back() != '\\') directory += '/';

    namespace fs = std::filesystem;
    std::error_code error;
    fs::directory_iterator it(fs::path(directory), error);
    if (error) return;
    for (const fs::directory_iterator end; it != end; it.increment(error)) {
        if (error) return;
        const std::string entry = it->path().filename().string();
        if (entry.empty() || entry.front() == '.') continue;
        std::error_code statusError;
        const fs::file_status status = fs::status(fs::path(directory + entry), statusError);
        if (statusError || fs::is_directory(status)) continue;
        slider.Labels.push_back(entry);
    }
}

const CVintrelSlider* CVintrelDescription::SliderAt(std::int32_t hostIndex) const {
    if (hostIndex < 0 || static_cast<std::size_t>(hostIndex) >= SliderInfos.size()) return nullptr;
    return &SliderInfos[static_cast<std::size_t>(hostIndex)];
}

double CVintrelDescription::GetNormalized(std::int32_t hostIndex) const {
    const CVintrelSlider* row = SliderAt(hostIndex);
    if (row == nullptr) return 0.0;
    return (Sliders[static_cast<std::size_t>(row->Index)] - row->Min) / (row->Max - row->Min);
}

void CVintrelDescription::SetNormalized(std::int32_t hostIndex, double normalized) {
    const CVintrelSlider* row = SliderAt(hostIndex);
    // A NaN or infinite request is no value at all; storing it would poison the saved state.
    if (row == nullptr || !std::isfinite(normalized)) return;
    // Outside 0..1 a request acts as the nearest end: a stray 1e6 would otherwise set a width
    // of 2.4e8 and blast the output.
    normalized = std::clamp(normalized, 0.0, 1.0);
    const double v = row->Min + normalized * (row->Max - row->Min);
    // The grid is the multiples of Step, anchored at zero; halfway goes up.
    const double q = std::floor((v + row->Step * 0.5) / row->Step) * row->Step;
    if (!std::isfinite(q)) return;
    vintrel::SharedDouble& stored = Sliders[static_cast<std::size_t>(row->Index)];
    // A request this close to the stored value is no change: nothing stored, no hook run.
    constexpr double kNoChangeWindow = 0.00001;
    const double d = q - stored;
    if (-kNoChangeWindow < d && d < kNoChangeWindow) return;
    stored = q;
    if (row->Mirror != nullptr) *row->Mirror = q;
    DoSliderChanged(row->Index);
}

void CVintrelDescription::DisplayText(std::int32_t hostIndex, char* buffer, std::size_t capacity) const {
    const CVintrelSlider* row = SliderAt(hostIndex);
    if (row == nullptr || buffer == nullptr || capacity == 0) return;
    const double v = Sliders[static_cast<std::size_t>(row->Index)];
    const std::size_t n = row->Labels.size();
    if (n == 0) {
        std::snprintf(buffer, capacity, "%.2f", v);
        return;
    }
    const double scaled = (v - row->Min) * static_cast<double>(n - 1) / (row->Max - row->Min);
    std::size_t p = 0;
    if (scaled >= 0.0 && scaled < 2147483648.0) p = static_cast<std::size_t>(static_cast<std::int32_t>(scaled));
    if (p > n - 1) p = n - 1;
    vintrel::copyBounded(buffer, row->Labels[p], capacity);
}

void TVintrel::DoReset() {
    FreeMemory();
    StringTable.clear();
    StringCount = 0.0;
    IdleStamp = 0;
}

namespace {
// clock() in milliseconds, wrapping like a 32-bit counter.
std::uint32_t clockMilliseconds() {
    return static_cast<std::uint32_t>(static_cast<std::int64_t>(std::clock()) * 1000 / CLOCKS_PER_SEC);
}
}  // namespace

void TVintrel::DoIdle() {
    if (!(GfxRate > 0.0)) return;
    const auto elapsed = static_cast<std::int32_t>(clockMilliseconds() - static_cast<std::uint32_t>(IdleStamp));
    if (static_cast<double>(elapsed) > 1000.0 / GfxRate) {
        VeSTRedraw(VeST);
        IdleStamp = static_cast<std::int32_t>(clockMilliseconds());
    }
}

std::int32_t TVintrel::SaveState(void** data, bool /*isPreset*/) {
    CVintrelFile& stream = Files[0];
    stream.ResetForWrite();
    double marker = StateMarker;
    stream.StreamValue(marker);
    DoSerialize();
    if (stream.Values.size() == 1) return 0;
    if (data != nullptr) *data = stream.Values.data();
    return static_cast<std::int32_t>(stream.Values.size() * sizeof(float));
}

std::int32_t TVintrel::LoadState(const void* data, std::int32_t byteSize, bool /*isPreset*/) {
    CVintrelFile& stream = Files[0];
    stream.ResetForRead(data, byteSize);
    if (stream.Values.empty()) return byteSize;
    const float first = stream.Values[0];
    stream.Position = 1;
    if (first != StateMarker) return byteSize;
    DoInitOnce();
    DoSerialize();
    HoldRowsInRange();
    DoSlider();
    return byteSize;
}

// A damaged or hostile state must not drive a gain past what the ranges allow. A NaN stays as
// loaded (the store guard turns what it derives into 0.0); slots no row uses travel as they are.
void TVintrel::HoldRowsInRange() {
    for (const CVintrelSlider& row : SliderInfos) {
        vintrel::SharedDouble& value = Sliders[static_cast<std::size_t>(row.Index)];
        const double loaded = value;
        if (loaded < row.Min) value = row.Min;
        if (loaded > row.Max) value = row.Max;
    }
}
