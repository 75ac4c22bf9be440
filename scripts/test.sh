#!/usr/bin/env bash
# Sets up what is missing, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
# A third-party VST 2 plug-in to prove our host library against.
ensure_packages dragonfly-reverb-vst
scripts/build.sh
REQUIRE_THIRD_PARTY_VST=1 ctest --test-dir build --output-on-failure -j"$(nproc)"
