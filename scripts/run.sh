#!/usr/bin/env bash
# Sets up what is missing, builds the plug-in and the renderer, synthesises a three-channel
# guitar take and decodes it: out/demo-take.wav in, out/demo-decoded.wav and a vectorscope out.
# Extra arguments go to the renderer, e.g. scripts/run.sh --param "stereo width=60".
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
mkdir -p out
build/tools/vstrender --demo -o out/demo-decoded.wav --scope out/demo-scope.png --overwrite \
    --param "stereo width=30" --param "DI level=-12" --param "DI pan to L/R=-40" "$@"
