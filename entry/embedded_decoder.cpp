#include "entry/embedded_decoder.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>

#include "adapter/vest.h"
#include "effect/guitar_decoder.h"
#include "entry/bridge_ops.h"

namespace vintrel {
namespace {

// The formats' block after the decoder's chunk: a tag, its version, the length of what follows,
// then (version 1) the DI delay in milliseconds as a double and the polarity as a whole number,
// (version 2) the bypass as a whole number, (version 3) the tone match: a whole number, 1 when
// the state holds one (0: a factory preset's, which leaves the match as it is), the amount in
// percent as a double, the curve's gains in dB as kMatchPoints doubles and its held points as
// the bits of a 64-bit number, all little-endian. A later version may add fields after these;
// they are skipped. An earlier one loads as not bypassed, and with no match.
constexpr std::size_t kChunkBytes = 260;
constexpr std::uint8_t kBlockTag[4] = {'D', 'I', 'a', 'l'};
constexpr std::uint32_t kBlockVersion = 3;
constexpr std::size_t kBlockHeader = 12, kAlignmentFields = 12, kBypassFields = 16;
constexpr std::size_t kBlockFields = kBypassFields + 4 + 8 + EmbeddedDecoder::kCurveBytes;
static_assert(align::kMatchPoints <= 64, "a held point is a bit of one number");

void putLittle(std::vector<std::uint8_t>& to, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) to.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint64_t little(const std::uint8_t* from, int bytes) {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value |= static_cast<std::uint64_t>(from[i]) << (8 * i);
    return value;
}

struct Alignment {
    double delayMs = 0;
    bool inverted = false;
    bool bypassed = false;
    bool keepsMatch = false;  // a factory preset's: the match stays as it is
    double matchPercent = 0;
    align::ToneCurve curve;
};

double doubleAt(const std::uint8_t* from) {
    const std::uint64_t bits = little(from, 8);
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

void putDouble(std::vector<std::uint8_t>& to, double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    putLittle(to, bits, 8);
}

// Past either end a value acts as that end; a NaN as none.
double heldIn(double v, double lo, double hi) { return std::isnan(v) ? 0.0 : std::clamp(v, lo, hi); }

void readMatch(const std::uint8_t* fields, Alignment& alignment) {
    alignment.keepsMatch = little(fields, 4) == 0;
    if (alignment.keepsMatch) return;
    const auto& row = kPluginParameters[kDiMatch];
    alignment.matchPercent = heldIn(doubleAt(fields + 4), row.min, row.max);
    EmbeddedDecoder::curveFromBytes(fields + 12, EmbeddedDecoder::kCurveBytes, alignment.curve);
}

// Where the decoder's chunk ends in a state, and the alignment its block holds; a state with
// no block (every state saved before the alignment existed) is all chunk, with no alignment.
std::size_t splitState(const std::uint8_t* data, std::size_t size, Alignment& alignment) {
    alignment = {};
    if (size < kChunkBytes + kBlockHeader || std::memcmp(data + kChunkBytes, kBlockTag, 4) != 0) return size;
    const std::uint8_t* block = data + kChunkBytes;
    const std::uint64_t version = little(block + 4, 4), length = little(block + 8, 4);
    if (version < 1 || length < kAlignmentFields || length > size - kChunkBytes - kBlockHeader) return size;
    alignment.delayMs = onDelayGrid(heldIn(doubleAt(block + kBlockHeader), kPluginParameters[kDiDelay].min,
                                           kPluginParameters[kDiDelay].max));
    alignment.inverted = little(block + kBlockHeader + 8, 4) != 0;
    alignment.bypassed = version >= 2 && length >= kBypassFields && little(block + kBlockHeader + 12, 4) != 0;
    if (version >= 3 && length >= kBlockFields) readMatch(block + kBlockHeader + kBypassFields, alignment);
    return kChunkBytes;
}

CVeST* adapterOf(AEffect* record) { return static_cast<CVeST*>(static_cast<AudioEffect*>(record->object)); }

TVintrelEffect* effectOf(AEffect* record) { return static_cast<TVintrelEffect*>(adapterOf(record)->Effect); }

}  // namespace

const DecoderIdentity& EmbeddedDecoder::identity() {
    static const DecoderIdentity id = [] {
        const TVintrelEffect fx;
        return DecoderIdentity{fx.EffectName, fx.VendorString, fx.VendorVersion, fx.Channels};
    }();
    return id;
}

std::string EmbeddedDecoder::textFor(std::int32_t parameter, double value) {
    // The runtime's own display, on a scratch effect: texts are asked for on the host's user
    // interface thread, where building one costs nothing that matters.
    if (std::isnan(value)) return {};
    if (parameter == kDiDelay) {
        char text[32];
        const auto& row = parameters()[kDiDelay];
        std::snprintf(text, sizeof text, "%.4f", onDelayGrid(std::clamp(value, row.min, row.max)));
        return text;
    }
    if (parameter == kDiMatch) {
        char text[32];
        const auto& row = parameters()[kDiMatch];
        std::snprintf(text, sizeof text, "%.1f", std::clamp(value, row.min, row.max));
        return text;
    }
    if (parameter == kDiPolarity || parameter == kBypass) return parameters()[static_cast<std::size_t>(parameter)].labels[value >= 0.5 ? 1 : 0];
    TVintrelEffect scratch;
    const CVintrelSlider* row = scratch.SliderAt(parameter);
    if (row == nullptr) return {};
    const double clamped = std::clamp(value, row->Min, row->Max);
    scratch.SetNormalized(parameter, static_cast<float>((clamped - row->Min) / (row->Max - row->Min)));
    char text[kParameterTextCapacity] = {};
    scratch.DisplayText(parameter, text, sizeof text);
    return text;
}

bool EmbeddedDecoder::valueFor(std::int32_t parameter, const char* text, double& value) {
    const auto& rows = parameters();
    if (text == nullptr || parameter < 0 || static_cast<std::size_t>(parameter) >= rows.size()) return false;
    const decoder::Parameter& row = rows[static_cast<std::size_t>(parameter)];
    const std::string unit = row.unit;
    auto sameText = [](const std::string& a, const char* b) {
        std::size_t i = 0;
        for (; i < a.size() && b[i] != '\0'; ++i)
            if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
                return false;
        return i == a.size() && b[i] == '\0';
    };
    for (std::int32_t i = 0; i < row.labelCount(); ++i)
        if (sameText(row.labels[static_cast<std::size_t>(i)], text)) {
            value = row.min + static_cast<double>(i);
            return true;
        }
    char* end = nullptr;
    const double number = std::strtod(text, &end);
    if (end == text || !std::isfinite(number)) return false;
    while (*end == ' ') ++end;
    if (*end != '\0' && !(!unit.empty() && sameText(unit, end))) return false;
    value = number;
    return true;
}

bool EmbeddedDecoder::valuesInState(const std::uint8_t* data, std::size_t size, std::vector<double>& values) {
    if (data == nullptr || size < sizeof(float) || size > 0x7fffffff) return false;
    float marker;
    std::memcpy(&marker, data, sizeof marker);
    if (marker != TVintrel::StateMarker) return false;
    // The runtime's own loading, on an effect that starts from the defaults.
    Alignment alignment;
    const std::size_t chunk = splitState(data, size, alignment);
    TVintrelEffect scratch;
    scratch.LoadState(data, static_cast<std::int32_t>(chunk), false);
    values.clear();
    for (const CVintrelSlider& row : scratch.SliderInfos)
        values.push_back(scratch.Sliders[static_cast<std::size_t>(row.Index)]);
    values.push_back(alignment.delayMs);
    values.push_back(alignment.inverted ? 1.0 : 0.0);
    values.push_back(alignment.bypassed ? 1.0 : 0.0);
    values.push_back(alignment.keepsMatch ? std::nan("") : alignment.matchPercent);  // NaN: left as it is
    return true;
}

std::vector<std::uint8_t> EmbeddedDecoder::stateOf(const FactoryPreset& preset, bool bypassed) {
    const std::unique_ptr<EmbeddedDecoder> scratch = create(48000.0, 512);
    if (!scratch) return {};
    const auto targets = presetTargets(preset);
    for (std::size_t i = 0; i < targets.size(); ++i) scratch->setValue(static_cast<std::int32_t>(i), targets[i]);
    scratch->setValue(kBypass, bypassed ? 1 : 0);
    return scratch->stateWith(false);
}

std::unique_ptr<EmbeddedDecoder> EmbeddedDecoder::create(double sampleRate, std::int32_t maxBlock) noexcept {
    try {
        std::unique_ptr<EmbeddedDecoder> instance(new EmbeddedDecoder);
        instance->record = createInstance<TVintrelEffect>(hostCallback);
        if (instance->record == nullptr) return nullptr;
        instance->record->user = instance.get();
        instance->dispatch(effOpen);
        instance->setSampleRate(sampleRate);
        instance->dispatch(effSetBlockSize, 0, maxBlock);
        return instance;
    } catch (...) {
        return nullptr;
    }
}

EmbeddedDecoder::~EmbeddedDecoder() {
    if (record != nullptr) dispatch(effClose);
}

VstIntPtr EmbeddedDecoder::dispatch(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) noexcept {
    return record->dispatcher(record, opcode, index, value, ptr, opt);
}

VstIntPtr VSTCALLBACK EmbeddedDecoder::hostCallback(AEffect* effect, VstInt32 opcode, VstInt32, VstIntPtr, void*,
                                                    float) {
    if (opcode == audioMasterVersion) return 2400;
    if (opcode != audioMasterGetTime || effect == nullptr || effect->user == nullptr) return 0;
    const auto* self = static_cast<const EmbeddedDecoder*>(effect->user);
    if (self->processingThread.load(std::memory_order_relaxed) != currentThread()) return 0;
    return reinterpret_cast<VstIntPtr>(self->transport);
}

void EmbeddedDecoder::setSampleRate(double rate) {
    dispatch(effSetSampleRate, 0, 0, nullptr, static_cast<float>(rate));
    if (rate > 0) sampleRate = rate;
    aligner.prepare(sampleRate);
    aligner.jumpTo(align::samplesOf(diDelayMs, sampleRate), diInverted);
    tone.prepare(sampleRate);
    {
        const CurveLock hold(curveLock);
        publishGains(gainsFor(curve));  // the sections' shapes follow the rate
    }
    resumed = true;
}

void EmbeddedDecoder::resume() {
    dispatch(effMainsChanged, 0, 1);
    aligner.reset();
    aligner.jumpTo(align::samplesOf(diDelayMs, sampleRate), diInverted);
    tone.reset();
    resumed = true;
}

std::int32_t EmbeddedDecoder::latency() const noexcept {
    return align::AlignmentPlan::latencyOf(align::samplesOf(diDelayMs, sampleRate));
}

std::int64_t EmbeddedDecoder::tailFrames(bool fading) const noexcept {
    constexpr double kKernelFrames = 64;  // the fractional kernel's taps
    const double ms = diDelayMs;
    const bool none = ms == 0 && !diInverted;
    // The match's sections ring on after the input stops, longest at 50 Hz: down by 120 dB in
    // about 0.2 s.
    constexpr double kToneRingSeconds = 0.25;
    const double ring = diMatchPercent > 0.0 ? kToneRingSeconds * sampleRate : 0.0;
    if (none && !fading) return static_cast<std::int64_t>(std::ceil(ring));
    const double reachMs = none ? align::DiAligner::kLongestDelayMilliseconds : std::abs(ms);
    return static_cast<std::int64_t>(std::ceil(align::samplesOf(reachMs, sampleRate) + kKernelFrames +
                                               align::DiAligner::kCrossfadeSeconds * sampleRate + ring));
}

void EmbeddedDecoder::followAlignment() noexcept {
    followTone();
    const double delay = align::samplesOf(diDelayMs, sampleRate);
    if (resumed)
        aligner.jumpTo(delay, diInverted);
    else
        aligner.set(delay, diInverted);
    resumed = false;
}

void EmbeddedDecoder::followTone() noexcept {
    bool changed = false;
    const std::uint32_t version = gainsVersion.load(std::memory_order_acquire);
    if (version % 2 == 0 && version != gainsVersionHeard) {
        align::SectionGains gains;
        for (std::size_t i = 0; i < gains.size(); ++i) gains[i] = fittedGains[i];
        std::atomic_thread_fence(std::memory_order_acquire);
        if (gainsVersion.load(std::memory_order_relaxed) == version) {  // else: taken at a later span
            gainsHeard = gains, gainsVersionHeard = version;
            changed = true;
        }
    }
    const double percent = diMatchPercent;
    if (!changed && percent == percentHeard && !resumed) return;
    percentHeard = percent;
    const bool on = percent > 0.0 && std::any_of(gainsHeard.begin(), gainsHeard.end(), [](double g) { return g != 0.0; });
    const align::Sections sections = align::sectionsOf(gainsHeard, percent / 100.0, sampleRate);
    if (resumed)
        tone.jumpTo(sections, on);
    else
        tone.set(sections, on);
}

align::SectionGains EmbeddedDecoder::gainsFor(const align::ToneCurve& of) const noexcept {
    try {
        return align::fitSectionGains(of, sampleRate);
    } catch (...) {  // out of memory: no match rather than none at all
        return {};
    }
}

void EmbeddedDecoder::publishGains(const align::SectionGains& gains) noexcept {
    const std::uint32_t version = gainsVersion.load(std::memory_order_relaxed);
    gainsVersion.store(version + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    for (std::size_t i = 0; i < gains.size(); ++i) fittedGains[i] = gains[i];
    gainsVersion.store(version + 2, std::memory_order_release);
}

void EmbeddedDecoder::setToneCurve(const align::ToneCurve& to) noexcept {
    align::ToneCurve held = to;
    for (double& v : held.db) v = heldIn(v, -align::kMatchLimitDb, align::kMatchLimitDb);
    const align::SectionGains gains = gainsFor(held);  // the fit, before the lock: it takes a while
    const CurveLock hold(curveLock);
    curve = held;
    publishGains(gains);
}

std::vector<std::uint8_t> EmbeddedDecoder::curveBytes(const align::ToneCurve& curve) {
    std::vector<std::uint8_t> bytes;
    std::uint64_t held = 0;
    for (std::size_t k = 0; k < curve.db.size(); ++k) {
        putDouble(bytes, curve.db[k]);
        if (curve.held[k]) held |= std::uint64_t{1} << k;
    }
    putLittle(bytes, held, 8);
    return bytes;
}

bool EmbeddedDecoder::curveFromBytes(const std::uint8_t* data, std::size_t size, align::ToneCurve& curve) {
    if (data == nullptr || size != kCurveBytes) return false;
    const std::uint64_t held = little(data + 8 * curve.db.size(), 8);
    for (std::size_t k = 0; k < curve.db.size(); ++k) {
        curve.db[k] = heldIn(doubleAt(data + 8 * k), -align::kMatchLimitDb, align::kMatchLimitDb);
        curve.held[k] = ((held >> k) & 1) != 0;
    }
    return true;
}

align::ToneCurve EmbeddedDecoder::toneCurve() const {
    const CurveLock hold(curveLock);
    return curve;
}

void EmbeddedDecoder::suspend() { dispatch(effMainsChanged, 0, 0); }

void EmbeddedDecoder::setValue(std::int32_t parameter, double value) noexcept {
    const auto& rows = parameters();
    if (parameter < 0 || static_cast<std::size_t>(parameter) >= rows.size() || std::isnan(value)) return;
    const decoder::Parameter& row = rows[static_cast<std::size_t>(parameter)];
    if (parameter == kDiDelay) {
        diDelayMs = onDelayGrid(std::clamp(value, row.min, row.max));
        return;
    }
    if (parameter == kDiPolarity) {
        diInverted = value >= 0.5;
        return;
    }
    if (parameter == kBypass) {
        bypassed = value >= 0.5;
        return;
    }
    if (parameter == kDiMatch) {
        diMatchPercent = std::clamp(value, row.min, row.max);
        return;
    }
    setNormalized(parameter, (std::clamp(value, row.min, row.max) - row.min) / (row.max - row.min));
}

void EmbeddedDecoder::setNormalized(std::int32_t parameter, double normalized) noexcept {
    if (parameter >= kDiDelay) {
        if (static_cast<std::size_t>(parameter) >= parameters().size()) return;
        const decoder::Parameter& row = parameters()[static_cast<std::size_t>(parameter)];
        if (!std::isnan(normalized)) setValue(parameter, row.min + std::clamp(normalized, 0.0, 1.0) * (row.max - row.min));
        return;
    }
    if (parameter < 0 || parameter >= record->numParams || std::isnan(normalized)) return;
    record->setParameter(record, parameter, static_cast<float>(std::clamp(normalized, 0.0, 1.0)));
}

double EmbeddedDecoder::value(std::int32_t parameter) const noexcept {
    if (parameter == kDiDelay) return diDelayMs;
    if (parameter == kDiPolarity) return diInverted ? 1.0 : 0.0;
    if (parameter == kBypass) return bypassed ? 1.0 : 0.0;
    if (parameter == kDiMatch) return diMatchPercent;
    const CVintrelSlider* row = effectOf(record)->SliderAt(parameter);
    return row != nullptr ? static_cast<double>(effectOf(record)->Sliders[static_cast<std::size_t>(row->Index)]) : 0.0;
}

double EmbeddedDecoder::normalized(std::int32_t parameter) const noexcept {
    if (parameter >= kDiDelay && static_cast<std::size_t>(parameter) < parameters().size()) {
        const decoder::Parameter& row = parameters()[static_cast<std::size_t>(parameter)];
        return (value(parameter) - row.min) / (row.max - row.min);
    }
    return static_cast<double>(record->getParameter(record, parameter));
}

// The rest of a block the record's processing started: the decoder's block routine over the
// three channels, which the formats give whole, as the record's processing would run it.
template <class Sample>
void continueWith(TVintrelEffect& fx, Sample** inputs, Sample** outputs, std::int32_t frames, bool endsBlock) {
    fx.DoSampleBlock(inputs, outputs, frames,
                     endsBlock ? TVintrelEffect::LastFrame::Kept : TVintrelEffect::LastFrame::FollowedByMore);
}

void EmbeddedDecoder::continueBlock(float** inputs, float** outputs, std::int32_t frames, bool endsBlock) noexcept {
    continueWith(*effectOf(record), inputs, outputs, frames, endsBlock);
}

void EmbeddedDecoder::continueBlock(double** inputs, double** outputs, std::int32_t frames, bool endsBlock) noexcept {
    continueWith(*effectOf(record), inputs, outputs, frames, endsBlock);
}

void EmbeddedDecoder::process(float* const* inputs, float* const* outputs, std::int32_t frames,
                              const VstTimeInfo* time) noexcept {
    processWith(record->processReplacing, inputs, outputs, frames, time);
}

void EmbeddedDecoder::process(double* const* inputs, double* const* outputs, std::int32_t frames,
                              const VstTimeInfo* time) noexcept {
    processWith(record->processDoubleReplacing, inputs, outputs, frames, time);
}

std::vector<std::uint8_t> EmbeddedDecoder::saveState() { return stateWith(true); }

std::vector<std::uint8_t> EmbeddedDecoder::stateWith(bool givesMatch) {
    void* data = nullptr;
    const VstIntPtr size = dispatch(effGetChunk, 0, 0, &data);
    if (size <= 0 || data == nullptr) return {};
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::vector<std::uint8_t> state(bytes, bytes + size);
    if (state.size() != kChunkBytes) return state;  // only a chunk of today's shape takes the block after it
    state.insert(state.end(), kBlockTag, kBlockTag + 4);
    putLittle(state, kBlockVersion, 4);
    putLittle(state, kBlockFields, 4);
    putDouble(state, diDelayMs);
    putLittle(state, diInverted ? 1 : 0, 4);
    putLittle(state, bypassed ? 1 : 0, 4);
    putLittle(state, givesMatch ? 1 : 0, 4);
    putDouble(state, givesMatch ? diMatchPercent.load() : 0.0);
    const std::vector<std::uint8_t> match = curveBytes(givesMatch ? toneCurve() : align::ToneCurve{});
    state.insert(state.end(), match.begin(), match.end());
    return state;
}

bool EmbeddedDecoder::loadState(const std::uint8_t* data, std::size_t size) noexcept {
    if (data == nullptr || size == 0 || size > 0x7fffffff) return false;
    Alignment alignment;
    const std::size_t chunk = splitState(data, size, alignment);
    if (dispatch(effSetChunk, 0, static_cast<VstIntPtr>(chunk), const_cast<std::uint8_t*>(data)) == 0) return false;
    diDelayMs = alignment.delayMs;
    diInverted = alignment.inverted;
    bypassed = alignment.bypassed;
    if (!alignment.keepsMatch) {
        setToneCurve(alignment.curve);
        diMatchPercent = alignment.matchPercent;
    }
    return true;
}

}  // namespace vintrel
