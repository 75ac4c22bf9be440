#!/usr/bin/env bash
# Checks the release archives as a user meets them, and the installation:
#  1. builds every archive, unpacks each into an empty folder, checks its SHA256SUMS, finds no
#     file that its INSTALL.txt does not mention, and loads every module in it with our own
#     hosts (plugincheck; the ARM build under qemu, the Windows builds under wine);
#  2. builds two archives again elsewhere and requires the same bytes;
#  3. installs with `cmake --install` into an empty home and under a prefix, checks that each
#     format (and the VST 3 preset files) lands where its hosts look, and has Ardour (headless, that home as HOME) find the
#     VST 2, LV2 and VST 3 plug-ins there with only what INSTALL.txt tells a user to set.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
ensure_packages wine wine64 ardour qemu-user-static unzip
scripts/package.sh
version=$(sed -n 's/^project(GuitarDecoder VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
work=$PWD/build-package
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"; /usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT
fail() { echo "test-package: $*" >&2; exit 1; }

# Every file must be named by INSTALL.txt, itself or through a folder it names.
check_mentioned() {  # check_mentioned DIR
    local text
    text=$(tr '\\' '/' <"$1/INSTALL.txt")
    while read -r file; do
        local path=$file found=""
        while [ "$path" != . ]; do
            grep -qF -- "$path" <<<"$text" && { found=1; break; }
            path=$(dirname "$path")
        done
        [ -n "$found" ] || fail "$(basename "$1"): INSTALL.txt does not mention $file"
    done < <(cd "$1" && find . -type f ! -name INSTALL.txt | sed 's|^\./||')
}

echo "== the archives, unpacked into empty folders"
for target in linux-x86_64 linux-aarch64 windows-x86_64 windows-i686; do
    name=GuitarDecoder-$version-$target
    dir=$tmp/unpack-$target
    mkdir "$dir"
    case "$target" in
        linux-*) tar -xzf "dist/$name.tar.gz" -C "$dir" ;;
        windows-*) (cd "$dir" && unzip -q "$OLDPWD/dist/$name.zip") ;;
    esac
    root=$dir/$name
    (cd "$root" && sha256sum --quiet -c SHA256SUMS) || fail "$name: the sums do not match"
    [ "$(cd "$root" && find . -type f ! -name SHA256SUMS | wc -l)" = "$(wc -l <"$root/SHA256SUMS")" ] ||
        fail "$name: SHA256SUMS does not cover every file"
    check_mentioned "$root"
    cmp -s "$root/LICENSE.txt" LICENSE || fail "$name: LICENSE.txt is not the project's licence"
    presets=$(find "$root" -path '*/Brelvander/Brelvander_3-channel acoustic guit decoder MS + DI/*.vstpreset' | wc -l)
    [ "$presets" = 9 ] || fail "$name: $presets VST 3 factory preset files, not 9"
    check=$work/$target/tools/plugincheck/plugincheck
    case "$target" in
        linux-x86_64)
            run=("$check")
            "$root/bin/vstrender" --list-params >/dev/null || fail "$name: vstrender does not find its plug-in" ;;
        linux-aarch64)
            arm=(qemu-aarch64-static -L /usr/aarch64-linux-gnu -E LD_LIBRARY_PATH=/usr/aarch64-linux-gnu/lib)
            run=("${arm[@]}" "$check")
            "${arm[@]}" "$root/bin/vstrender" --list-params >/dev/null ||
                fail "$name: vstrender does not find its plug-in" ;;
        windows-x86_64)
            export WINEPREFIX=$tmp/wine64 WINEDEBUG=-all
            timeout 300 /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || true
            run=(/usr/lib/wine/wine64 "$work/$target/plugincheck.exe") ;;
        windows-i686)
            if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
                echo "test-package: $name: NOT RUN: this kernel cannot execute 32-bit programs (wine's 32-bit loader);" \
                     "sums and install text checked only" >&2
                continue
            fi
            export WINEPREFIX=$tmp/wine32 WINEARCH=win32 WINEDEBUG=-all
            run=(/usr/lib/wine/wine "$work/$target/plugincheck.exe") ;;
    esac
    shopt -s nullglob
    for module in "$root"/vst/*.so "$root"/VST2/*.dll; do "${run[@]}" vst2 "$module"; done
    for module in "$root"/vst3/GuitarDecoder.vst3/Contents/*/* "$root"/VST3/GuitarDecoder.vst3/Contents/*/*; do
        "${run[@]}" vst3 "$module"
    done
    for module in "$root"/clap/*.clap "$root"/CLAP/*.clap; do "${run[@]}" clap "$module"; done
    # The LV2 bundle ships on Linux only; its editor library is loaded by the host's UI side,
    # so it is checked for its descriptor rather than run as a plug-in.
    if [ -d "$root/lv2" ]; then
        "${run[@]}" lv2 "$root/lv2/GuitarDecoder.lv2/GuitarDecoder.so" urn:brelvander:guitar-decoder
        readelf --dyn-syms -W "$root/lv2/GuitarDecoder.lv2/GuitarDecoderEditor.so" | grep -qw lv2ui_descriptor ||
            fail "$name: GuitarDecoderEditor.so exports no lv2ui_descriptor"
    fi
    shopt -u nullglob
    echo "test-package: $name: sums right, every file described, every module loads and processes"
done

echo "== the same bytes from another build of the same commit"
DIST_DIR=$tmp/dist-again PACKAGE_WORK=$tmp/work-again scripts/package.sh linux-x86_64 windows-x86_64 >/dev/null
for archive in "GuitarDecoder-$version-linux-x86_64.tar.gz" "GuitarDecoder-$version-windows-x86_64.zip"; do
    cmp "dist/$archive" "$tmp/dist-again/$archive" || fail "$archive differs between two builds"
    echo "test-package: $archive: byte-identical"
done

echo "== cmake --install, for a user and under a prefix"
home=$tmp/home
mkdir -p "$home"
HOME=$home cmake --install "$work/linux-x86_64" >/dev/null
for file in .vst/GuitarDecoder.so .lv2/GuitarDecoder.lv2/manifest.ttl .lv2/GuitarDecoder.lv2/GuitarDecoder.so \
    .vst3/GuitarDecoder.vst3/Contents/x86_64-linux/GuitarDecoder.so .clap/GuitarDecoder.clap .local/bin/vstrender \
    ".vst3/presets/Brelvander/Brelvander_3-channel acoustic guit decoder MS + DI/Wide.vstpreset"; do
    [ -f "$home/$file" ] || fail "cmake --install put no ~/$file"
done
cmake --install "$work/linux-x86_64" --prefix "$tmp/prefix" >/dev/null
for file in lib/vst/GuitarDecoder.so lib/lv2/GuitarDecoder.lv2/GuitarDecoder.ttl lib/vst3/GuitarDecoder.vst3 \
    lib/clap/GuitarDecoder.clap bin/vstrender \
    "share/vst3/presets/Brelvander/Brelvander_3-channel acoustic guit decoder MS + DI/Wide.vstpreset"; do
    [ -e "$tmp/prefix/$file" ] || fail "cmake --install --prefix put no PREFIX/$file"
done
HOME=$home "$home/.local/bin/vstrender" --list-params >/dev/null || fail "the installed vstrender does not find ~/.vst"
echo "test-package: installed for a user and under a prefix"

# Ardour with that home: its own scanners first (its session tool reads only their cache), and
# for VST 2 the one setting INSTALL.txt names; nothing points it at LV2 or VST 3.
env=(env -u LV2_PATH -u VST3_PATH HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_CACHE_HOME="$home/.cache"
     LXVST_PATH="$home/.vst" LD_LIBRARY_PATH=/usr/lib/ardour7)
"${env[@]}" timeout 120 /usr/lib/ardour7/ardour-vst-scanner -f "$home/.vst/GuitarDecoder.so" >/dev/null 2>&1 ||
    fail "Ardour's VST 2 scanner refused the installed plug-in"
"${env[@]}" timeout 120 /usr/lib/ardour7/ardour-vst3-scanner -f "$home/.vst3/GuitarDecoder.vst3" >/dev/null 2>&1 ||
    fail "Ardour's VST 3 scanner refused the installed plug-in"
cat >"$tmp/find.lua" <<LUA
AudioEngine:set_backend("None (Dummy)", "", "")
AudioEngine:start(false)
create_session("$tmp/session", "find", 48000)
local name = "Brelvander_3-channel acoustic guit decoder MS + DI"
for _, p in ipairs({{"LV2", "urn:brelvander:guitar-decoder", ARDOUR.PluginType.LV2},
                    {"VST3", name, ARDOUR.PluginType.VST3}, {"VST2", name, ARDOUR.PluginType.LXVST}}) do
  local plugin = ARDOUR.LuaAPI.new_plugin(Session, p[2], p[3], "")
  print((plugin:isnil() and "missing " or "found ") .. p[1])
end
close_session()
LUA
found=$("${env[@]}" timeout 300 ardour7-lua "$tmp/find.lua" 2>&1 | grep -E '^(found|missing) ')
echo "$found" | sed 's/^/  Ardour: /'
[ "$(grep -c '^found' <<<"$found")" = 3 ] || fail "Ardour does not find every installed format"
echo "test-package: Ardour finds the installed VST 2, LV2 and VST 3 plug-ins"
