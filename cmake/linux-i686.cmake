# 32-bit x86 Linux with gcc -m32, run under qemu's user-mode emulator: the 32-bit arithmetic
# and record layout of the plug-in checked where the kernel cannot run 32-bit programs.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
# The kernel's asm headers serve both widths; Debian links them for -m32 only from the
# unversioned multilib package, which cannot be installed beside the ARM cross compiler.
set(CMAKE_C_FLAGS_INIT "-m32 -msse2 -mfpmath=sse -isystem ${CMAKE_CURRENT_LIST_DIR}/i686-include")
set(CMAKE_CXX_FLAGS_INIT "-m32 -msse2 -mfpmath=sse -isystem ${CMAKE_CURRENT_LIST_DIR}/i686-include")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386-static)
