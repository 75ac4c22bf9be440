#!/usr/bin/env bash
# The plug-ins on a machine without X11 (a render server, a container): no module needs an X11
# library, and with libX11 made unloadable the formats' processing tests still pass.
#   headless_render.sh "MODULE..." "TEST-PROGRAM FILTER"...
set -euo pipefail
modules=$1
shift
for module in $modules; do
    needed=$(readelf -d "$module" | awk '/NEEDED/ {print $NF}' | tr -d '[]')
    if grep -qiE 'libX|xcb' <<<"$needed"; then
        echo "headless_render: $module needs $(grep -iE 'libX|xcb' <<<"$needed" | tr '\n' ' ')" >&2
        exit 1
    fi
    echo "headless_render: $(basename "$module") needs only: $(tr '\n' ' ' <<<"$needed")"
done
x11=$(ldconfig -p | awk '/libX11\.so\.6 / && !found {print $NF; found = 1}')
[ -n "$x11" ] || { echo "headless_render: no libX11 on this machine: the runs below are headless anyway"; x11=/dev/null; }
# A mount namespace of our own, where libX11 is an empty file that cannot be loaded.
runs=""
for run in "$@"; do runs+="$run;"; done
unshare -m bash -euo pipefail -c '
    x11=$1 runs=$2
    [ "$x11" = /dev/null ] || mount --bind /dev/null "$(readlink -f "$x11")"
    [ ! -s "$(readlink -f "$x11")" ] || { echo "headless_render: libX11 is still there" >&2; exit 1; }
    IFS=";" read -ra list <<<"$runs"
    for run in "${list[@]}"; do
        set -- $run
        echo "headless_render: $(basename "$1") --gtest_filter=$2 without libX11"
        "$1" --gtest_filter="$2" --gtest_brief=1
    done
' headless "$x11" "$runs"
