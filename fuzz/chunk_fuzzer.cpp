// Arbitrary bytes loaded as the decoder's state, a block processed in both precisions, and
// the state saved again: nothing may crash, read out of bounds, or decode to a non-finite value.
#include <cstring>
#include <vector>

#include "effect/guitar_decoder.h"
#include "entry/bridge_ops.h"
#include "fuzz_host.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    AEffect* e = vintrel::createInstance<TVintrelEffect>(fuzzhost::callback);
    if (e == nullptr) __builtin_trap();
    e->dispatcher(e, effOpen, 0, 0, nullptr, 0.0f);
    e->dispatcher(e, effMainsChanged, 0, 1, nullptr, 0.0f);
    // The chunk lives in a heap block of exactly its size.
    std::vector<std::uint8_t> chunk(data, data + size);
    const VstIntPtr consumed =
        e->dispatcher(e, effSetChunk, static_cast<VstInt32>(size & 1), static_cast<VstIntPtr>(size),
                      chunk.empty() ? nullptr : chunk.data(), 0.0f);
    if (!chunk.empty() && consumed != static_cast<VstIntPtr>(size)) __builtin_trap();

    constexpr VstInt32 frames = 37;
    std::vector<float> fin[3], fout[3];
    std::vector<double> din[3], dout[3];
    float* fi[3];
    float* fo[3];
    double* di[3];
    double* dx[3];
    for (int k = 0; k < 3; ++k) {
        for (VstInt32 j = 0; j < frames; ++j) {
            const double v = ((j * 7 + k * 13) % 41 - 20) / 20.0;
            fin[k].push_back(static_cast<float>(v));
            din[k].push_back(v);
        }
        fout[k].assign(frames, 0.0f);
        dout[k].assign(frames, 0.0);
        fi[k] = fin[k].data();
        fo[k] = fout[k].data();
        di[k] = din[k].data();
        dx[k] = dout[k].data();
    }
    e->processReplacing(e, fi, fo, frames);
    e->processDoubleReplacing(e, di, dx, frames);
    fuzzhost::requireFinite(dx, 3, frames);

    void* saved = nullptr;
    if (e->dispatcher(e, effGetChunk, 0, 0, &saved, 0.0f) != 260 || saved == nullptr) __builtin_trap();
    float marker;
    std::memcpy(&marker, saved, sizeof marker);
    if (marker != -1000.0f) __builtin_trap();
    e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f);
    return 0;
}
