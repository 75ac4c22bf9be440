#!/usr/bin/env bash
# Draws the pictures in docs/ anew from the code that draws them, on purpose: after a change of
# the editor's look, the vectorscope or the analysis sheet. docs/editor.png is the editor's
# stored picture of a take measured (tests/editor_pictures/signal-measured@1x.png, drawn anew
# first); the vectorscope and the analysis sheet are the renderer's, of the demo take with the
# demo's settings. A test fails while any of them differs from what the code draws now. Look at
# every one before committing them.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh >/dev/null
UPDATE_EDITOR_PICTURES=1 build/tests/editor_test --gtest_filter='EditorPictures.*' >/dev/null
cp tests/editor_pictures/signal-measured@1x.png docs/editor.png
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
settings=(--param "stereo width=30" --param "DI level=-12" --param "DI pan to L/R=-40")
build/tools/vstrender --demo --align-di -o "$work/decoded.wav" --scope docs/vectorscope.png --overwrite "${settings[@]}" >/dev/null
# From the take's folder, so the sheet's title names it as demo-take.wav.
(cd "$work" && "$OLDPWD/build/tools/vstrender" --analyze -i demo-take.wav --plot analysis.png "${settings[@]}" >/dev/null)
cp "$work/analysis.png" docs/analysis.png
ls -l docs/*.png
