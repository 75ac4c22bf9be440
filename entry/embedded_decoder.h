// The decoder's VST 2 record, created and driven inside this module for the other plug-in
// formats. They reach the effect through the same entry, adapter, bridge operations and
// parameter quantisation as a VST 2 host does, so every format renders the same bits and
// saves the same state.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "effect/decoder_parameters.h"
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
    static constexpr const std::array<decoder::Parameter, 11>& parameters() { return decoder::kParameters; }
    static const DecoderIdentity& identity();
    // The display text the runtime gives a parameter at this value (the value quantised as a
    // set would); empty for an unknown parameter.
    static std::string textFor(std::int32_t parameter, double value);
    // The way back: a switch's label (any case) or a number, with or without the unit. False,
    // and `value` untouched, for text that is neither or a parameter that does not exist.
    static bool valueFor(std::int32_t parameter, const char* text, double& value);
    // The parameter values (display units) a state chunk holds, as loading it would set them;
    // false for a chunk that is not a state.
    static bool valuesInState(const std::uint8_t* data, std::size_t size, std::vector<double>& values);

    // An opened instance with this rate and largest block; null when memory runs out.
    static std::unique_ptr<EmbeddedDecoder> create(double sampleRate, std::int32_t maxBlock) noexcept;
    ~EmbeddedDecoder();
    EmbeddedDecoder(const EmbeddedDecoder&) = delete;
    EmbeddedDecoder& operator=(const EmbeddedDecoder&) = delete;

    void setSampleRate(double sampleRate);
    void resume();   // as a VST 2 host's resume: the settings are recomputed
    void suspend();

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
    template <class Sample>
    void processSpan(Sample* const* inputs, Sample* const* outputs, std::int32_t from, std::int32_t to,
                     std::int32_t frames, const VstTimeInfo* transport) noexcept {
        if (to <= from) return;
        Sample* in[kChannels];
        Sample* out[kChannels];
        for (std::size_t k = 0; k < kChannels; ++k) in[k] = inputs[k] + from, out[k] = outputs[k] + from;
        if (from == 0 && to >= frames) {
            process(in, out, to - from, transport);  // the whole block: nothing splits it
            return;
        }
        // A zero-frame call runs the block's start (the transport, the per-block work) as the
        // record does; the frames follow without it.
        if (from == 0) process(in, out, 0, transport);
        continueBlock(in, out, to - from, to >= frames);
    }

    // The state chunk (empty when memory runs out), and back; false when the effect refused it.
    std::vector<std::uint8_t> saveState();
    bool loadState(const std::uint8_t* data, std::size_t size) noexcept;

private:
    EmbeddedDecoder() = default;
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
    // The thread inside a processing call, and the transport it gave: time requests from any
    // other thread (a state load calls the effect's init) get no answer and read nothing.
    std::atomic<std::uintptr_t> processingThread{0};
    const VstTimeInfo* transport = nullptr;
};

}  // namespace vintrel
