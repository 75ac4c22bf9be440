#!/usr/bin/env bash
# Sets up what is missing, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
# A third-party VST 2 plug-in to prove our host library against, and the hosts and checkers
# the other formats are proven with: lilv's tools, the LV2 validator and Ardour, headless.
# The editors are shown on an X server of the tests' own (Xvfb), driven through XTest, and in
# Debian's jalv.gtk3 and Qtractor on a JACK server with a dummy sound card (Qtractor with a
# stand-in for the ALSA sequencer, built from alsa-lib's headers). ffmpeg's loudness meter checks
# the renderer's take analysis.
ensure_packages dragonfly-reverb-vst lilv-utils lv2-dev sordi liblilv-dev ardour xvfb xauth libxtst-dev jalv jackd2 \
    qtractor libasound2-dev ffmpeg
scripts/build.sh
REQUIRE_THIRD_PARTY_VST=1 REQUIRE_ARDOUR=1 REQUIRE_JALV=1 REQUIRE_QTRACTOR=1 REQUIRE_FFMPEG=1 ctest --test-dir build --output-on-failure -j"$(nproc)"

# Sanitizers, valgrind, many instances and fuzzing.
scripts/test-hardening.sh

# The same code as 32-bit x86 and as 64-bit ARM, under emulation.
scripts/test-cross.sh i686
scripts/test-cross.sh aarch64

# The Windows DLLs: export and import checks, then the same suites under wine.
ensure_packages binutils-mingw-w64-x86-64 g++-mingw-w64-x86-64-win32
scripts/test-check-dll.sh
scripts/test-windows.sh x86_64
scripts/test-windows.sh i686

# The release archives: each unpacked and loaded, built twice to the same bytes, installed.
scripts/test-package.sh
