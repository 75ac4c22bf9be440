#!/usr/bin/env bash
# The LV2 bundle through Debian's checkers: lv2_validate (which always exits 0, so its report
# is read) must find no error, and lv2info, with LV2_PATH at the bundle's build folder, must show
# the six audio ports, the thirteen control inputs, the latency output, the bypass ("enabled")
# and the DI's tone match, and say nothing of anything else in that folder.
set -euo pipefail
bundle=${1:?usage: lv2_validate.sh BUNDLE-DIR}
report=$(lv2_validate "$bundle"/*.ttl 2>&1 | grep -v '^Skipping')
echo "$report"
grep -q '^Found 0 errors' <<<"$report" || { echo "lv2_validate found errors" >&2; exit 1; }
! grep -qi '^error' <<<"$report" || { echo "lv2_validate reported an error" >&2; exit 1; }
errors=$(mktemp)
trap 'rm -f "$errors"' EXIT
info=$(LV2_PATH=$(cd "$(dirname "$bundle")" && pwd) lv2info urn:brelvander:guitar-decoder 2>"$errors")
if [ -s "$errors" ]; then
    cat "$errors" >&2
    echo "lilv reports errors with LV2_PATH at $(dirname "$bundle")" >&2
    exit 1
fi
audio=$(grep -c 'lv2core#AudioPort' <<<"$info" || true)
control=$(grep -c 'lv2core#ControlPort' <<<"$info" || true)
echo "lv2info: $audio audio ports, $control control ports"
[ "$audio" = 6 ] && [ "$control" = 16 ] || { echo "lv2info shows other ports than described" >&2; exit 1; }
