#!/usr/bin/env bash
# Builds the release archives from the committed tree (HEAD) into dist/ (or $DIST_DIR): Linux
# x86_64 and aarch64 as .tar.gz (VST 2, LV2, VST 3, CLAP and vstrender), Windows 64-bit and
# 32-bit as .zip (VST 2, VST 3, CLAP), each with the VST 3 factory preset files, INSTALL.txt,
# PARAMETERS.txt, the typeface's licence and SHA256SUMS;
# the modules are stripped, their symbols in a -symbols.tar.gz beside each archive.
# Archives are reproducible: the same commit gives the same bytes (fixed times, owners and
# order; no build paths in the binaries).
#   scripts/package.sh [linux-x86_64] [linux-aarch64] [windows-x86_64] [windows-i686]
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(linux-x86_64 linux-aarch64 windows-x86_64 windows-i686)
ensure_packages "${BUILD_PACKAGES[@]}" zip
for target in "${targets[@]}"; do
    case "$target" in
        linux-aarch64) ensure_packages g++-aarch64-linux-gnu qemu-user-static libsndfile1-dev:arm64 libpng-dev:arm64 libebur128-dev:arm64 libsoxr-dev:arm64 ;;
        windows-x86_64) ensure_packages g++-mingw-w64-x86-64-win32 ;;
        windows-i686) ensure_packages g++-mingw-w64-i686-win32 ;;
        linux-x86_64) ;;
        *) echo "package: unknown target $target" >&2; exit 2 ;;
    esac
done

version=$(sed -n 's/^project(GuitarDecoder VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
dist=$(realpath -m "${DIST_DIR:-dist}")
work=$(realpath -m "${PACKAGE_WORK:-build-package}")
epoch=$(git log -1 --format=%ct HEAD)
export SOURCE_DATE_EPOCH=$epoch TZ=UTC LC_ALL=C
mkdir -p "$dist" "$work"

# Only what is committed goes into an archive.
rm -rf "$work/source"
mkdir -p "$work/source"
git archive HEAD | tar -x -C "$work/source"

build() {  # build TARGET: a release build of every format in $work/TARGET
    local target=$1 toolchain=() tools=ON
    case "$target" in
        linux-aarch64) toolchain=(-DCMAKE_TOOLCHAIN_FILE=cmake/linux-aarch64.cmake) ;;
        windows-x86_64) toolchain=(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake) tools=OFF ;;
        windows-i686) toolchain=(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake) tools=OFF ;;
    esac
    cmake -S "$work/source" -B "$work/$target" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVINTREL_RELEASE=ON \
        -DVINTREL_BUILD_TESTS=OFF -DVINTREL_BUILD_TOOLS=$tools "${toolchain[@]}" >/dev/null
    cmake --build "$work/$target" -j"$(nproc)"
}

# The VST 3 factory preset files are the same bytes for every target: written once, by a build
# of the tool for this machine.
vst3_presets() {
    if [ ! -f "$work/presets/written" ]; then
        cmake -S "$work/source" -B "$work/presets-tool" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVINTREL_RELEASE=ON \
            -DVINTREL_BUILD_TESTS=OFF -DVINTREL_BUILD_TOOLS=OFF >/dev/null
        cmake --build "$work/presets-tool" -j"$(nproc)" --target vst3_make_presets >/dev/null
        rm -rf "$work/presets"
        "$work/presets-tool/vst3/vst3_make_presets" "$work/presets"
        touch "$work/presets/written"
    fi
}

stage() {  # stage TARGET DIR: the archive's files
    local target=$1 dir=$2 b=$work/$1 arch=${1#*-}
    rm -rf "$dir"
    mkdir -p "$dir"
    if [[ $target == linux-* ]]; then
        mkdir -p "$dir/vst" "$dir/vst3" "$dir/clap" "$dir/lv2" "$dir/bin"
        cp "$b/plugins/vst/GuitarDecoder.so" "$dir/vst/"
        cp -r "$b/plugins/vst3/GuitarDecoder.vst3" "$dir/vst3/"
        cp "$b/plugins/clap/GuitarDecoder.clap" "$dir/clap/"
        cp -r "$b/plugins/lv2/GuitarDecoder.lv2" "$dir/lv2/"
        cp "$b/tools/vstrender" "$dir/bin/"
        mkdir -p "$dir/vst3-presets"
        cp -r "$work/presets/." "$dir/vst3-presets/"
        rm -f "$dir/vst3-presets/written"
        sed "s/@VERSION@/$version/; s/@ARCH@/$arch/" scripts/release/INSTALL-linux.txt >"$dir/INSTALL.txt"
    else
        local bits=64-bit
        [ "$arch" = i686 ] && bits=32-bit
        mkdir -p "$dir/VST2" "$dir/VST3" "$dir/CLAP"
        cp "$b/GuitarDecoder.dll" "$dir/VST2/"
        cp -r "$b/plugins/vst3/GuitarDecoder.vst3" "$dir/VST3/"
        cp "$b/GuitarDecoder.clap" "$dir/CLAP/"
        mkdir -p "$dir/VST3 Presets"
        cp -r "$work/presets/." "$dir/VST3 Presets/"
        rm -f "$dir/VST3 Presets/written"
        sed "s/@VERSION@/$version/; s/@ARCH@/$arch/; s/@BITS@/$bits/g" scripts/release/INSTALL-windows.txt |
            sed 's/$/\r/' >"$dir/INSTALL.txt"
    fi
    strip_modules "$target" "$dir"
    # Our licence, and that of the editor's typeface, which is embedded in the modules.
    cp LICENSE "$dir/LICENSE.txt"
    cp /usr/share/doc/fonts-dejavu-core/copyright "$dir/LICENSE-DejaVu.txt"
    # The parameter reference is the README's.
    sed -n '/^## Parameters/,/^## [^P]/p' README.md | sed '$d' >"$dir/PARAMETERS.txt"
    (cd "$dir" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | sort | tr '\n' '\0' | xargs -0 sha256sum >SHA256SUMS)
    find "$dir" -type d -exec chmod 755 {} + -o -type f -exec chmod 644 {} +
    [[ $target == linux-* ]] && chmod 755 "$dir/bin/vstrender"
    find "$dir" -exec touch -h -d "@$epoch" {} +
}

# The modules a user installs carry no symbols; each one's symbols go to a file of the same
# path under $work/symbols/TARGET, archived beside the release for reading crash reports.
strip_modules() {  # strip_modules TARGET DIR
    local target=$1 dir=$2 cache=$work/$1/CMakeCache.txt symbols=$work/symbols/$1
    local strip objcopy
    strip=$(sed -n 's/^CMAKE_STRIP:FILEPATH=//p' "$cache")
    objcopy=$(sed -n 's/^CMAKE_OBJCOPY:FILEPATH=//p' "$cache")
    rm -rf "$symbols"
    while read -r module; do
        mkdir -p "$symbols/$(dirname "$module")"
        "$objcopy" --only-keep-debug "$dir/$module" "$symbols/$module.debug"
        "$strip" --strip-unneeded "$dir/$module"
    done < <(cd "$dir" && find . -type f \( -name '*.so' -o -name '*.dll' -o -name '*.clap' -o -name '*.vst3' \
        -o -path ./bin/vstrender \) | sed 's|^\./||' | sort)
}

vst3_presets
for target in "${targets[@]}"; do
    echo "== package: $target"
    build "$target"
    name=GuitarDecoder-$version-$target
    stage "$target" "$work/stage/$name"
    if [[ $target == linux-* ]]; then
        tar --sort=name --mtime="@$epoch" --owner=0 --group=0 --numeric-owner -C "$work/stage" -cf - "$name" |
            gzip -n -9 >"$dist/$name.tar.gz"
        echo "package: $dist/$name.tar.gz"
    else
        rm -f "$dist/$name.zip"
        (cd "$work/stage" && find "$name" | sort | zip -q -X -D -@ "$dist/$name.zip")
        echo "package: $dist/$name.zip"
    fi
    find "$work/symbols/$target" -exec touch -h -d "@$epoch" {} +
    tar --sort=name --mtime="@$epoch" --owner=0 --group=0 --numeric-owner -C "$work/symbols/$target" -cf - . |
        gzip -n -9 >"$dist/$name-symbols.tar.gz"
    echo "package: $dist/$name-symbols.tar.gz (the modules' symbols, for crash reports)"
done
