// The decoder's VST 2 record, created and driven inside this module for the other plug-in
// formats. They reach the effect through the same entry, adapter, bridge operations and
// parameter quantisation as a VST 2 host does, so every format renders the same bits and
// saves the same state. In front of it stands the DI's alignment, the two parameters after
// the decoder's eleven, and then the DI's tone match: their state follows the decoder's chunk
// as a block of its own.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "align/di_aligner.h"
#include "align/tone_match.h"
#include "effect/decoder_parameters.h"
#include "entry/factory_presets.h"
#include "entry/plugin_parameters.h"
#include "entry/subnormals.h"
#include "runtime/shared_double.h"
#include "runtime/thread_identity.h"
#include "vst2/aeffect.h"

namespace vintrel {

struct DecoderIdentity {
    std::string name, vendor;
    std::int32_t vendorVersion;  // 1000 for 1.0.0.0
    std::int32_t channels;       // inputs, and as many outputs
};

class EmbeddedDecoder {
public:
    static constexpr std::size_t kChannels = 3;  // inputs, and as many outputs

    // The table and identity are the same for every instance.
    static constexpr const std::array<decoder::Parameter, kPluginParameterCount>& parameters() {
        return kPluginParameters;
    }
    static const DecoderIdentity& identity();
    // The display text the runtime gives a parameter at this value (the value quantised as a
    // set would); empty for an unknown parameter.
    static std::string textFor(std::int32_t parameter, double value);
    // The way back: a switch's label (any case) or a number, with or without the unit. False,
    // and `value` untouched, for text that is neither or a parameter that does not exist.
    static bool valueFor(std::int32_t parameter, const char* text, double& value);
    // The parameter values (display units) a state holds, as loading it would set them; false
    // for bytes that are not a state.
    static bool valuesInState(const std::uint8_t* data, std::size_t size, std::vector<double>& values);

    // A factory preset's whole state as the formats save it (the decoder's chunk is its first
    // 260 bytes, what the VST 2 module saves), bypassed or not; empty when memory runs out.
    // It leaves the tone match as it is: the match belongs to the take, not to a sound.
    static std::vector<std::uint8_t> stateOf(const FactoryPreset& preset, bool bypassed = false);

    // An opened instance with this rate and largest block; null when memory runs out.
    static std::unique_ptr<EmbeddedDecoder> create(double sampleRate, std::int32_t maxBlock) noexcept;
    ~EmbeddedDecoder();
    EmbeddedDecoder(const EmbeddedDecoder&) = delete;
    EmbeddedDecoder& operator=(const EmbeddedDecoder&) = delete;

    // Not while processing runs: the alignment makes room for its longest delay at this rate.
    void setSampleRate(double sampleRate);
    void resume();   // as a VST 2 host's resume: the settings are recomputed, the past forgotten
    void suspend();
    // The samples the DI's alignment delays the microphones by, for the host to make up for:
    // more than 0 only for a negative DI delay.
    std::int32_t latency() const noexcept;

    // Sets a parameter as a VST 2 host does, with the normalised float of this value in display
    // units (clamped into the range). A NaN or an unknown parameter changes nothing.
    void setValue(std::int32_t parameter, double value) noexcept;
    void setNormalized(std::int32_t parameter, double normalized) noexcept;
    // The value the effect holds, in display units, and as the host's normalised float.
    double value(std::int32_t parameter) const noexcept;
    double normalized(std::int32_t parameter) const noexcept;

    // Processing, as the record's processReplacing and processDoubleReplacing. The transport,
    // when given, answers the effect's time requests during this one call.
    void process(float* const* inputs, float* const* outputs, std::int32_t frames,
                 const VstTimeInfo* transport = nullptr) noexcept;
    void process(double* const* inputs, double* const* outputs, std::int32_t frames,
                 const VstTimeInfo* transport = nullptr) noexcept;

    // The frames [from, to) of a block of `frames` whose changes split it at their frames; each
    // span acts with the settings made before it. The span from frame 0 starts the block, the
    // others go on with it: the transport and the effect's per-block work are not done again.
    // The inputs go through the DI's alignment first; bypassed, they pass to the outputs as
    // they are, with a crossfade when the bypass changes while audio runs.
    // No subnormal number goes in or comes out: one costs the arithmetic that meets it many
    // times its usual time, here and in whatever plays after us. The inputs are decoded from
    // copies with each set to zero (its sign kept), a usual block in one piece, and every output
    // is flushed the same way; a compare, not the processor's flush mode, so that the bits are
    // the same wherever it runs, and those of every other sample untouched.
    template <class Sample>
    void processSpan(Sample* const* inputs, Sample* const* outputs, std::int32_t from, std::int32_t to,
                     std::int32_t frames, const VstTimeInfo* transport) noexcept {
        if (to <= from) return;
        Sample* in[kChannels];
        Sample* out[kChannels];
        for (std::size_t k = 0; k < kChannels; ++k) in[k] = inputs[k] + from, out[k] = outputs[k] + from;
        const std::int32_t n = to - from;
        const bool startsBlock = from == 0, endsBlock = to >= frames;
        for (std::int32_t done = 0; done < n;) {
            const std::int32_t m = std::min<std::int32_t>(kFlushedFrames, n - done);
            Sample* flushed[kChannels];
            Sample* pieceOut[kChannels];
            for (std::size_t k = 0; k < kChannels; ++k) {
                flushed[k] = flushedOf<Sample>(k), pieceOut[k] = out[k] + done;
                flushSubnormals(in[k] + done, flushed[k], m);
            }
            span(flushed, pieceOut, m, startsBlock && done == 0, endsBlock && done + m >= n, transport);
            done += m;
        }
        for (std::size_t k = 0; k < kChannels; ++k) flushSubnormals(out[k], out[k], n);
    }

    // On the audio thread, before a block: whether the alignment keeps no earlier samples that
    // could still sound (it passes the inputs through), so silent inputs decode to silence.
    bool keepsNoPast() const noexcept { return aligner.passThrough() && tone.passThrough(); }
    // How many frames after the inputs fall silent the outputs may still sound, from any thread:
    // the alignment's reach at its setting (the DI delay, or the microphones' latency, and the
    // kernel) and a crossfade; 0 at none. The audio thread, which knows the stage may still be
    // fading out of an earlier delay, asks with `fading` for the longest reach at none.
    std::int64_t tailFrames(bool fading = false) const noexcept;

    // The state chunk (empty when memory runs out), and back; false when the effect refused it.
    std::vector<std::uint8_t> saveState();
    bool loadState(const std::uint8_t* data, std::size_t size) noexcept;

    // The DI's tone match learned from a take, which "DI match" scales: set from any thread but
    // the audio thread (the editor's APPLY, a state, the renderer), its values held within the
    // curve's limits. The sections are fitted here and handed to the audio thread without a
    // lock; it crossfades to them.
    void setToneCurve(const align::ToneCurve& curve) noexcept;
    align::ToneCurve toneCurve() const;
    // The curve as states hold it: its gains in dB as kMatchPoints little-endian doubles, then
    // its held points as the bits of a little-endian 64-bit number; and back, its values held
    // in range (false for bytes of another length).
    static constexpr std::size_t kCurveBytes = 8 * align::kMatchPoints + 8;
    static std::vector<std::uint8_t> curveBytes(const align::ToneCurve& curve);
    static bool curveFromBytes(const std::uint8_t* data, std::size_t size, align::ToneCurve& curve);

private:
    static constexpr std::int32_t kScratchFrames = 256;

    // A span through the alignment and the decoder, or the bypass, from inputs with no
    // subnormal number.
    template <class Sample>
    void span(Sample* const* in, Sample* const* out, std::int32_t n, bool startsBlock, bool endsBlock,
              const VstTimeInfo* transport) noexcept {
        const double target = bypassed ? 1.0 : 0.0;
        if (resumed) bypassGain = target;  // nothing has played: no crossfade
        followAlignment();
        if (bypassGain == 0.0 && target == 0.0) {
            alignAndDecode(in, out, n, startsBlock, endsBlock, transport);
            return;
        }
        // The dry inputs kept (the outputs may be the same buffers), then mixed with the decode.
        for (std::int32_t done = 0; done < n;) {
            const std::int32_t m = std::min<std::int32_t>(kScratchFrames, n - done);
            Sample* piece[kChannels];
            Sample* pieceOut[kChannels];
            Sample* dry[kChannels];
            // With a latency reported, the dry inputs are delayed by it, as the decode is, so a
            // bypassed track stays in time once the host has made up for it; the alignment keeps
            // their past and writes them out, before the outputs (which may be the inputs).
            const bool inTime = !aligner.passThrough();
            for (std::size_t k = 0; k < kChannels; ++k) {
                piece[k] = in[k] + done, pieceOut[k] = out[k] + done, dry[k] = scratchOf<Sample>(kChannels + k);
                if (!inTime) std::copy(piece[k], piece[k] + m, dry[k]);
            }
            if (bypassGain == 1.0 && target == 1.0)
                followWhileBypassed(piece, m, inTime ? dry : nullptr);
            else
                alignAndDecode(piece, pieceOut, m, startsBlock && done == 0, endsBlock && done + m >= n, transport,
                               inTime ? dry : nullptr);
            mixBypass(dry, pieceOut, m, target);
            done += m;
        }
    }
    static constexpr double kBypassCrossfadeSeconds = 0.005;

    // A span through the DI's alignment and the decoder; with `dry`, the inputs delayed by the
    // latency too.
    template <class Sample>
    void alignAndDecode(Sample* const* in, Sample* const* out, std::int32_t n, bool startsBlock, bool endsBlock,
                        const VstTimeInfo* transport, Sample* const* dry = nullptr) noexcept {
        if (aligner.passThrough()) {
            aligner.skip(n);
            matchTone(in[kDi], n);
            decode(in, out, n, startsBlock, endsBlock, transport);
            return;
        }
        // The aligned inputs in pieces the scratch holds, each decoded as the rest of the span.
        Sample* aligned[kChannels];
        for (std::size_t k = 0; k < kChannels; ++k) aligned[k] = scratchOf<Sample>(k);
        for (std::int32_t done = 0; done < n;) {
            const std::int32_t m = std::min<std::int32_t>(kScratchFrames, n - done);
            Sample* piece[kChannels];
            Sample* pieceOut[kChannels];
            Sample* dryPiece[kChannels];
            for (std::size_t k = 0; k < kChannels; ++k)
                piece[k] = in[k] + done, pieceOut[k] = out[k] + done, dryPiece[k] = dry != nullptr ? dry[k] + done : nullptr;
            aligner.process(piece, aligned, m, dry != nullptr ? dryPiece : nullptr);
            matchTone(aligned[kDi], m);
            decode(aligned, pieceOut, m, startsBlock && done == 0, endsBlock && done + m >= n, transport);
            done += m;
        }
    }
    // Bypassed: the alignment still hears the inputs, so that its past is there when it is back.
    template <class Sample>
    void followWhileBypassed(Sample* const* in, std::int32_t n, Sample* const* dry) noexcept {
        if (aligner.passThrough()) {
            aligner.skip(n);
            matchTone(in[kDi], n);
            return;
        }
        Sample* aligned[kChannels];
        for (std::size_t k = 0; k < kChannels; ++k) aligned[k] = scratchOf<Sample>(k);
        aligner.process(in, aligned, n, dry);
        matchTone(aligned[kDi], n);
    }
    // The aligned DI through the tone match, in place; untouched while it is off.
    template <class Sample>
    void matchTone(Sample* di, std::int32_t n) noexcept {
        if (!tone.passThrough()) tone.process(di, static_cast<std::size_t>(n));
    }
    static constexpr std::size_t kDi = 2;  // the DI's input
    // Outputs between the decode and the dry inputs by the bypass's share, which moves towards
    // `target` over kBypassCrossfadeSeconds; all dry once it is there.
    template <class Sample>
    void mixBypass(Sample* const* dry, Sample* const* out, std::int32_t n, double target) noexcept {
        const double step = 1.0 / std::max(1.0, kBypassCrossfadeSeconds * sampleRate);
        for (std::int32_t j = 0; j < n; ++j) {
            bypassGain = target > bypassGain ? std::min(target, bypassGain + step) : std::max(target, bypassGain - step);
            for (std::size_t k = 0; k < kChannels; ++k) {
                const double a = out[k][j], b = dry[k][j];
                out[k][j] = bypassGain == 1.0 ? dry[k][j]
                                              : static_cast<Sample>(std::clamp(a + bypassGain * (b - a), std::min(a, b), std::max(a, b)));
            }
        }
    }

    EmbeddedDecoder() = default;
    // Frames of one span: the whole block in one call of the record, or its start and the rest.
    template <class Sample>
    void decode(Sample* const* in, Sample* const* out, std::int32_t n, bool startsBlock, bool endsBlock,
                const VstTimeInfo* transport) noexcept {
        if (startsBlock && endsBlock) {
            process(in, out, n, transport);
            return;
        }
        // A zero-frame call runs the block's start (the transport, the per-block work) as the
        // record does; the frames follow without it.
        if (startsBlock) process(in, out, 0, transport);
        continueBlock(const_cast<Sample**>(in), const_cast<Sample**>(out), n, endsBlock);
    }
    // The alignment's setting and the tone match as the host last set them, taken on the audio
    // thread.
    void followAlignment() noexcept;
    void followTone() noexcept;
    // The sections' gains for a curve at this rate, and their handing to the audio thread
    // (curveLock held, so the gains are the curve's).
    align::SectionGains gainsFor(const align::ToneCurve& of) const noexcept;
    void publishGains(const align::SectionGains& gains) noexcept;
    std::vector<std::uint8_t> stateWith(bool givesMatch);
    template <class Sample>
    Sample* scratchOf(std::size_t channel) noexcept {
        if constexpr (sizeof(Sample) == sizeof(float))
            return scratchFloat[channel];
        else
            return scratchDouble[channel];
    }
    template <class Sample>
    Sample* flushedOf(std::size_t channel) noexcept {
        if constexpr (sizeof(Sample) == sizeof(float))
            return flushedFloat[channel];
        else
            return flushedDouble[channel];
    }
    void continueBlock(float** inputs, float** outputs, std::int32_t frames, bool endsBlock) noexcept;
    void continueBlock(double** inputs, double** outputs, std::int32_t frames, bool endsBlock) noexcept;
    static VstIntPtr VSTCALLBACK hostCallback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                                              void* ptr, float opt);
    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr,
                       float opt = 0.0f) noexcept;
    // One call of the record's processing function, with the transport answering during it.
    template <class Process, class Sample>
    void processWith(Process function, Sample* const* inputs, Sample* const* outputs, std::int32_t frames,
                     const VstTimeInfo* time) noexcept {
        transport = time;
        processingThread.store(currentThread(), std::memory_order_relaxed);
        function(record, const_cast<Sample**>(inputs), const_cast<Sample**>(outputs), frames);
        processingThread.store(0, std::memory_order_relaxed);
    }

    AEffect* record = nullptr;
    double sampleRate = 48000;
    align::DiAligner aligner;
    // No block since activation: the first one takes the alignment at once, with no crossfade
    // from one no sample has passed through (a session's values arrive with it in some formats).
    bool resumed = true;
    // The alignment as set from any thread: milliseconds on the delay's grid, and the polarity.
    SharedDouble diDelayMs{0.0};
    SharedFlag diInverted;
    SharedFlag bypassed;
    double bypassGain = 0;  // the dry inputs' share of the outputs, on the audio thread
    // The tone match: the amount in percent as set from any thread; the curve, kept for the
    // state and the editor; its sections' gains at 100 %, written under a sequence number that
    // is odd while they change (the audio thread takes them only when it read the same even
    // number before and after). On the audio thread: the stage, and what it last took.
    SharedDouble diMatchPercent{0.0};
    // Held only by threads other than the audio thread, for a copy of the curve or a new one
    // (a spin: not every target's C++ runtime has a mutex, and the holders never wait long).
    class CurveLock {
    public:
        explicit CurveLock(std::atomic_flag& flag) : flag_(flag) {
            while (flag_.test_and_set(std::memory_order_acquire)) {
            }
        }
        ~CurveLock() { flag_.clear(std::memory_order_release); }
        CurveLock(const CurveLock&) = delete;
        CurveLock& operator=(const CurveLock&) = delete;

    private:
        std::atomic_flag& flag_;
    };
    mutable std::atomic_flag curveLock = ATOMIC_FLAG_INIT;
    align::ToneCurve curve;
    std::array<SharedDouble, align::kMatchSections> fittedGains{};
    std::atomic<std::uint32_t> gainsVersion{0};
    align::ToneStage tone;
    align::SectionGains gainsHeard{};
    std::uint32_t gainsVersionHeard = 0;
    double percentHeard = 0;
    // The aligned inputs, then the dry ones.
    float scratchFloat[2 * kChannels][kScratchFrames] = {};
    double scratchDouble[2 * kChannels][kScratchFrames] = {};
    // Inputs with their subnormal numbers flushed: a usual block in one piece.
    static constexpr std::int32_t kFlushedFrames = 1024;
    float flushedFloat[kChannels][kFlushedFrames] = {};
    double flushedDouble[kChannels][kFlushedFrames] = {};
    // The thread inside a processing call, and the transport it gave: time requests from any
    // other thread (a state load calls the effect's init) get no answer and read nothing.
    std::atomic<std::uintptr_t> processingThread{0};
    const VstTimeInfo* transport = nullptr;
};

}  // namespace vintrel
