// The bridge table: the only road from the host adapter to the effect. The adapter copies
// it at construction and calls slot k when the matching host event arrives; every
// operation takes the adapter first and finds the effect through it.
#pragma once

#include <cstdint>

class CVeST;

// clang-format off
struct VeSTBridge {
    void (*OnCreate)(CVeST*) = nullptr;                                          // 0
    void (*OnDestroy)(CVeST*) = nullptr;                                         // 1
    void (*OnOpen)(CVeST*) = nullptr;                                            // 2
    void (*OnSuspend)(CVeST*) = nullptr;                                         // 3
    void (*OnResume)(CVeST*) = nullptr;                                          // 4
    void (*OnIdle)(CVeST*) = nullptr;                                            // 5
    void (*OnClose)(CVeST*) = nullptr;                                           // 6
    void* Reserved[6] = {};                                                      // 7 to 12
    std::int32_t (*GetVendorVersion)(CVeST*) = nullptr;                          // 13
    std::int32_t (*GetVendorString)(CVeST*, char*) = nullptr;                    // 14
    std::int32_t (*GetProductString)(CVeST*, char*) = nullptr;                   // 15
    std::int32_t (*GetEffectName)(CVeST*, char*) = nullptr;                      // 16
    std::int32_t (*GetProgramName)(CVeST*, char*) = nullptr;                     // 17
    void (*SetProgramName)(CVeST*, const char*) = nullptr;                       // 18
    std::int32_t (*GetProgramNameIndexed)(CVeST*, std::int32_t, std::int32_t, char*) = nullptr;  // 19
    double (*GetParameter)(CVeST*, std::int32_t) = nullptr;                      // 20
    void (*SetParameter)(CVeST*, std::int32_t, double) = nullptr;                // 21
    void (*GetParameterName)(CVeST*, std::int32_t, char*) = nullptr;             // 22
    void (*GetParameterLabel)(CVeST*, std::int32_t, char*) = nullptr;            // 23
    void (*GetParameterDisplay)(CVeST*, std::int32_t, char*) = nullptr;          // 24
    void (*ProcessReplacing)(CVeST*, float**, float**, std::int32_t) = nullptr;  // 25
    void (*ProcessDoubleReplacing)(CVeST*, double**, double**, std::int32_t) = nullptr;  // 26
    std::int32_t (*GetChunk)(CVeST*, void**, std::int32_t) = nullptr;            // 27
    std::int32_t (*SetChunk)(CVeST*, void*, std::int32_t, std::int32_t) = nullptr;  // 28
};
// clang-format on
static_assert(sizeof(VeSTBridge) == 29 * sizeof(void*));
