#!/usr/bin/env bash
# Sets up what is missing, builds the plug-in and the renderer, synthesises a three-channel
# guitar take (out/demo-take.wav) and decodes it with its DI aligned to the microphones
# (out/demo-decoded.wav, a vectorscope out/demo-scope.png), then reports what the analysis
# finds in the take (and draws out/demo-analysis.png). Extra arguments go to the renderer,
# e.g. scripts/run.sh --param "stereo width=60".
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
mkdir -p out
settings=(--param "stereo width=30" --param "DI level=-12" --param "DI pan to L/R=-40")
build/tools/vstrender --demo --align-di -o out/demo-decoded.wav --scope out/demo-scope.png --overwrite \
    "${settings[@]}" "$@"
echo
build/tools/vstrender --analyze -i out/demo-take.wav --plot out/demo-analysis.png --overwrite "${settings[@]}" "$@"
