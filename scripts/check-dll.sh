#!/usr/bin/env bash
# Checks a built Windows DLL the way a user's host will meet it: it exports exactly
# VSTPluginMain, main and MAIN, main is the very same function as VSTPluginMain, and it
# imports only DLLs that every Windows has. With --exports "A B", the DLL of another format
# must export exactly those names instead.
set -euo pipefail
expected=""
if [ "${1:-}" = --exports ]; then
    expected=$2
    shift 2
fi
dll=$1
dump=$(x86_64-w64-mingw32-objdump -p "$dll")
fail() { echo "check-dll: $dll: $*" >&2; exit 1; }

# "name rva" for every export: the name table gives the index into the address table.
exports=$(awk '
    /^Export Address Table -- Ordinal Base/ { eat = 1; next }
    eat && /^\t\[ *[0-9]+\]/ { gsub(/[\[\]]/, " "); rva[$1] = $(NF - 2); next }
    /^\[Ordinal\/Name Pointer\] Table/ { eat = 0; names = 1; next }
    names && /^\t\[ *[0-9]+\]/ { gsub(/[\[\]]/, " "); print $2, rva[$1]; next }
    names { names = 0 }
' <<<"$dump" | sort)
echo "$exports" | sed 's/^/  export /'
if [ -n "$expected" ]; then
    [ "$(awk '{print $1}' <<<"$exports" | tr '\n' ' ')" = "$(tr ' ' '\n' <<<"$expected" | sort | tr '\n' ' ')" ] ||
        fail "exports must be exactly $expected"
else
    [ "$(awk '{print $1}' <<<"$exports" | tr '\n' ' ')" = "MAIN VSTPluginMain main " ] ||
        fail "exports must be exactly MAIN, VSTPluginMain and main"
    main_rva=$(awk '$1 == "main" {print $2}' <<<"$exports")
    entry_rva=$(awk '$1 == "VSTPluginMain" {print $2}' <<<"$exports")
    [ -n "$main_rva" ] && [ "$main_rva" = "$entry_rva" ] || fail "main is not the same function as VSTPluginMain"
fi

imports=$(awk '/DLL Name:/ {print $3}' <<<"$dump")
echo "$imports" | sed 's/^/  import /'
while read -r name; do
    case "${name,,}" in
        kernel32.dll | msvcrt.dll | user32.dll | gdi32.dll | advapi32.dll | ntdll.dll | api-ms-win-*) ;;
        *) fail "imports $name, which a user's Windows does not have" ;;
    esac
done <<<"$imports"
echo "check-dll: $dll: exports and imports are right"
