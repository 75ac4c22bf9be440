#!/usr/bin/env bash
# Builds the plug-in and its tests for 32-bit x86 Linux and runs them under qemu's user-mode
# emulator: the 32-bit record layout and SSE2 arithmetic that the 32-bit DLL shares, tested
# even where the kernel cannot start 32-bit programs (and so wine's 32-bit loader).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
ensure_packages cmake ninja-build g++-multilib googletest qemu-user-static
cmake -S . -B build-i686 -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/linux-i686.cmake \
    -DVINTREL_BUILD_TOOLS=OFF >/dev/null
cmake --build build-i686 -j"$(nproc)"
ctest --test-dir build-i686 --output-on-failure -j"$(nproc)"

if [ -x build/tests/plugin_test ]; then
    native=$(build/tests/plugin_test --gtest_filter='*FixedTakeDigest*' | grep 'fixed-take digest')
    emulated=$(qemu-i386-static build-i686/tests/plugin_test --gtest_filter='*FixedTakeDigest*' | grep 'fixed-take digest')
    if [ "$native" != "$emulated" ]; then
        echo "test-i686: 32-bit output differs: x86-64 $native, i686 $emulated" >&2
        exit 1
    fi
    echo "test-i686: output bits equal the x86-64 build's ($native)"
fi
