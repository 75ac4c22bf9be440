// The module's exports: VSTPluginMain, main (the same function) and MAIN.
#include "effect/guitar_decoder.h"
#include "entry/bridge_ops.h"

#if defined(_WIN32)
#define VINTREL_EXPORT extern "C" __declspec(dllexport)
#else
#define VINTREL_EXPORT extern "C" __attribute__((visibility("default")))
#endif

VINTREL_EXPORT AEffect* VSTCALLBACK VSTPluginMain(audioMasterCallback audioMaster) {
    return vintrel::createInstance<TVintrelEffect>(audioMaster);
}

VINTREL_EXPORT AEffect* VSTCALLBACK MAIN(audioMasterCallback audioMaster) {
    return vintrel::createInstance<TVintrelEffect>(audioMaster);
}

// C++ forbids declaring ::main with this signature, so "main" is an assembler alias of
// VSTPluginMain on ELF; on Windows the module-definition file exports main=VSTPluginMain.
#if !defined(_WIN32)
__asm__(".globl main\n.type main, @function\n.set main, VSTPluginMain");
#endif
