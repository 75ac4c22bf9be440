#!/usr/bin/env bash
# Builds the plug-in and its tests for another Linux processor and runs them under qemu's
# user-mode emulator: i686 (the 32-bit record layout and the SSE2 arithmetic that the 32-bit
# DLL shares, tested even where the kernel cannot start 32-bit programs) or aarch64 (the
# portable kernels, on 64-bit ARM). The suite pins the fixed take's digest, so passing means
# the same output bits as every other target.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
arch=${1:?usage: test-cross.sh i686|aarch64}
case "$arch" in
    # The versioned multilib package: the unversioned one conflicts with the ARM cross compiler.
    i686) compiler=(g++-12-multilib) ;;
    aarch64) compiler=(g++-aarch64-linux-gnu) ;;
    *) echo "unknown architecture $arch" >&2; exit 2 ;;
esac
ensure_packages cmake ninja-build googletest qemu-user-static "${compiler[@]}"
dir=build-$arch
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="cmake/linux-$arch.cmake" \
    -DVINTREL_BUILD_TOOLS=OFF >/dev/null
cmake --build "$dir" -j"$(nproc)"
ctest --test-dir "$dir" --output-on-failure -j"$(nproc)"
