#!/usr/bin/env bash
# Fails naming every function a Windows binary imports that Windows XP SP3's
# system libraries do not export. Wine exports them all, so no run under Wine
# would notice; Windows XP refuses to start such a program.
#
#   scripts/check-imports.sh [--lists DIR] BINARY...
# DIR holds one file per system library (kernel32.txt ...), one exported name a
# line; by default tests/data/winapi/nt51. scripts/release.sh runs it on what
# it ships.
set -euo pipefail
lists=$(cd "$(dirname "$0")/../tests/data/winapi/nt51" && pwd)
case "${1:-}" in
    -h|--help) sed -n '2,9s/^# \{0,1\}//p' "$0"; exit 0 ;;
    --lists) lists=$2; shift 2 ;;
esac
[ $# -gt 0 ] || { echo "usage: $0 [--lists DIR] BINARY..." >&2; exit 2; }
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}

status=0
for bin in "$@"; do
    [ -f "$bin" ] || { echo "$bin: no such file"; status=1; continue; }
    echo "$(basename "$bin"):"
    # "DLL Name: X" opens a library's table; its rows are "vma hint name".
    "$objdump" -p "$bin" | awk '
        /^\tDLL Name: / { dll = substr($0, 12); next }
        dll != "" && /^\t[0-9a-f]+\t *[0-9]+  / {
            row = $0; sub(/^\t[0-9a-f]+\t */, "", row)
            hint = row; sub(/ .*/, "", hint); sub(/^[0-9]+ +/, "", row); sub(/ .*/, "", row)
            print dll "\t" (row == "<none>" ? "ordinal " hint : row); next }
        /^ *$/ { dll = "" }' > "${TMPDIR:-/tmp}/imports.$$"
    awk -F'\t' '{ print $1 }' "${TMPDIR:-/tmp}/imports.$$" | sort | uniq -c |
        awk '{ printf "  %-14s %3d imports\n", $2, $1 }'
    while IFS=$'\t' read -r dll name; do
        list=$lists/$(tr 'A-Z' 'a-z' <<<"${dll%.*}").txt
        if [ ! -f "$list" ]; then
            echo "  MISSING $dll!$name (no export list for $dll: not a library Windows XP ships)"; status=1
        elif ! grep -qxF -- "$name" "$list"; then
            echo "  MISSING $dll!$name (not exported by Windows XP SP3)"; status=1
        fi
    done < "${TMPDIR:-/tmp}/imports.$$"
    [ -s "${TMPDIR:-/tmp}/imports.$$" ] || { echo "  no imports read: not a PE binary?"; status=1; }
    rm -f "${TMPDIR:-/tmp}/imports.$$"
done
[ $status -eq 0 ] && echo "every import is exported by Windows XP SP3" || echo "FAIL: imports Windows XP SP3 lacks"
exit $status
