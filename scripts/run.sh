#!/usr/bin/env bash
# Sets up what is missing, builds the plug-in and shows what was built.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
echo "Built the plug-in: $(pwd)/build/GuitarDecoder.so"
