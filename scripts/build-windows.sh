#!/usr/bin/env bash
# Cross-builds the Windows DLL (and its tests) for i686 or x86_64 into build-win-ARCH/.
set -euo pipefail
cd "$(dirname "$0")/.."
arch=${1:?usage: build-windows.sh i686|x86_64}
dir=build-win-$arch
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-w64-$arch.cmake" -DVINTREL_BUILD_TOOLS=OFF >/dev/null
cmake --build "$dir" -j"$(nproc)"
echo "Built $PWD/$dir/GuitarDecoder.dll"
