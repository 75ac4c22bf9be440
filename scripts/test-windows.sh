#!/usr/bin/env bash
# Cross-builds the Windows DLL for one architecture (i686 or x86_64), checks its exports and
# imports, and runs the unit and end-to-end tests against it under wine, headless.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
arch=${1:?usage: test-windows.sh i686|x86_64}
case "$arch" in
    i686) compiler=g++-mingw-w64-i686-win32 loader=/usr/lib/wine/wine winepkgs=(wine wine32:i386) ;;
    x86_64) compiler=g++-mingw-w64-x86-64-win32 loader=/usr/lib/wine/wine64 winepkgs=(wine wine64) ;;
    *) echo "unknown architecture $arch" >&2; exit 2 ;;
esac
ensure_packages cmake ninja-build googletest binutils-mingw-w64-x86-64 xvfb xauth "$compiler" "${winepkgs[@]}"

scripts/build-windows.sh "$arch"
dir=build-win-$arch
scripts/check-dll.sh "$dir/GuitarDecoder.dll"
scripts/check-dll.sh --exports clap_entry "$dir/GuitarDecoder.clap"
vst3_arch=$([ "$arch" = x86_64 ] && echo x86_64-win || echo x86-win)
scripts/check-dll.sh --exports "ExitDll GetPluginFactory InitDll" \
    "$dir/plugins/vst3/GuitarDecoder.vst3/Contents/$vst3_arch/GuitarDecoder.vst3"

if ! "$loader" --version >/dev/null 2>&1; then
    # wine's 32-bit loader is a 32-bit Linux program; a kernel without 32-bit support
    # cannot start it, and nothing here can stand in for it.
    echo "test-windows: $arch: cannot run the tests here: this kernel does not execute $loader" >&2
    [ -n "${REQUIRE_WINE_RUN:-}" ] && exit 1
    exit 0
fi

export WINEPREFIX="$PWD/$dir/wineprefix" WINEDEBUG=-all,err+module
[ "$arch" = i686 ] && export WINEARCH=win32
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT
timeout 300 "$loader" wineboot -i >/dev/null 2>&1 || true
status=0
for test in runtime_test plugin_test clap_test vst3_test meter_test editor_windows_test; do
    echo "test-windows: $arch: $test.exe under wine"
    # The editor's windows need an X server for wine to show them on, and a wine session that
    # starts on it (the one before had none).
    display=()
    if [ "$test" = editor_windows_test ]; then
        display=(xvfb-run -a -s "-noreset -screen 0 1600x1000x24")
        /usr/lib/wine/wineserver -k 2>/dev/null || true
    fi
    # A program that crashes can leave wine's debugger to exit 0: a run counts only with
    # GoogleTest's own closing line of passes and none of failures.
    if ! (cd "$dir" && timeout 600 "${display[@]}" "$loader" "$test.exe" --gtest_brief=1) | tee "$dir/$test.log" ||
        ! grep -q '^\[  PASSED  \]' "$dir/$test.log" || grep -q '^\[  FAILED  \]' "$dir/$test.log"; then
        echo "test-windows: $arch: $test.exe FAILED" >&2
        status=1
    fi
done
exit $status
