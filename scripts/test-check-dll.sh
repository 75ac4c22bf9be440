#!/usr/bin/env bash
# Shows that check-dll.sh fails loudly: DLLs with a missing export, a main that is another
# function, or a non-system import are refused, and a right one passes.
set -euo pipefail
cd "$(dirname "$0")/.."
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cxx=x86_64-w64-mingw32-g++-win32

cat >"$tmp/plugin.cpp" <<'CPP'
#include <string>
extern "C" void* VSTPluginMain(void*) { return nullptr; }
extern "C" void* MAIN(void*) { static std::string s; s += "x"; return &s; }
extern "C" void* other(void* p) { return p; }
CPP
build() {  # build NAME DEF-LINES... : a DLL exporting what the .def file says
    local name=$1; shift
    printf 'EXPORTS\n' >"$tmp/$name.def"
    printf '    %s\n' "$@" >>"$tmp/$name.def"
    $cxx -shared -O1 ${LINK:--static} -o "$tmp/$name.dll" "$tmp/plugin.cpp" "$tmp/$name.def"
}
expect() {  # expect pass|fail DLL
    if scripts/check-dll.sh "$2" >/dev/null 2>"$tmp/err"; then result=pass; else result=fail; fi
    [ "$result" = "$1" ] || { echo "test-check-dll: $2 should $1" >&2; cat "$tmp/err" >&2; exit 1; }
    echo "test-check-dll: $(basename "$2"): ${1}ed as it should$( [ "$1" = fail ] && echo ": $(cat "$tmp/err")")"
}
build good VSTPluginMain MAIN main=VSTPluginMain
expect pass "$tmp/good.dll"
build missing VSTPluginMain MAIN
expect fail "$tmp/missing.dll"
build othermain VSTPluginMain MAIN main=other
expect fail "$tmp/othermain.dll"
LINK=" " build dynamic VSTPluginMain MAIN main=VSTPluginMain
expect fail "$tmp/dynamic.dll"
