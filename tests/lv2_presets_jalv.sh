#!/usr/bin/env bash
# The factory presets in Debian's jalv, as a user of its console meets them: "presets" lists
# every one, "preset URI" applies it and shows the values it set. On a JACK server of our own
# with a dummy sound card.
set -euo pipefail
folder=$(cd "${1:?usage: lv2_presets_jalv.sh LV2-FOLDER}" && pwd)
if ! command -v jalv >/dev/null || ! command -v jackd >/dev/null; then
    [ -n "${REQUIRE_JALV:-}" ] && { echo "jalv and jackd are needed (Debian: jalv, jackd2)" >&2; exit 1; }
    echo "jalv or jackd is not installed (Debian: jalv, jackd2): skipped"
    exit 77
fi
server=vintrel-presets-$$
jackd -n "$server" --no-realtime -d dummy -r 48000 -p 256 >/dev/null 2>&1 &
jack=$!
trap 'kill $jack 2>/dev/null; wait $jack 2>/dev/null || true' EXIT
sleep 1
uri=urn:brelvander:guitar-decoder
# Each command after a pause, as typed; jalv answers on standard output.
out=$( { sleep 1; echo presets; sleep 0.5
         for p in wide di-on-its-own-track-output-3 mics-only; do
             echo "preset $uri#preset-$p"; sleep 0.5
         done; } |
       JACK_DEFAULT_SERVER=$server LV2_PATH=$folder timeout 20 jalv "$uri" 2>&1 || true)
fail() { echo "$1" >&2; echo "$out" >&2; exit 1; }
[ "$(grep -c "^.*$uri#preset-.* (" <<<"$out")" = 9 ] || fail "jalv does not list the nine factory presets"
for name in "Neutral" "Wide" "Narrow (mono-safe)" "DI under the mics" "DI on its own track (output 3)" \
    "Plain mid/side (A/B)" "Mics only" "DI only (check the pickup)" "Player's view (swapped)"; do
    grep -qF "($name)" <<<"$out" || fail "jalv does not list \"$name\""
done
# The values at the start, then after each preset in order: Wide, DI on its own track, Mics only.
values() { grep -E "^(> )?$1 = " <<<"$out" | sed 's/.* = //' | tr '\n' ' '; }
[ "$(values stereo_width)" = "0.000000 40.000000 0.000000 0.000000 " ] || fail "Wide did not set the width: $(values stereo_width)"
[ "$(values di_routing)" = "0.000000 0.000000 1.000000 0.000000 " ] || fail "DI on its own track did not route the DI: $(values di_routing)"
[ "$(values active_channels)" = "0.000000 0.000000 0.000000 1.000000 " ] || fail "Mics only did not keep the DI out: $(values active_channels)"
echo "jalv lists the nine factory presets and applies them"
