#!/usr/bin/env bash
# Draws the editor's stored pictures anew (tests/editor_pictures/), on purpose: after a change
# of its look. Look at every one before committing them.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh >/dev/null
UPDATE_EDITOR_PICTURES=1 build/tests/editor_test --gtest_filter='EditorPictures.*'
ls -l tests/editor_pictures
