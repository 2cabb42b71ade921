#!/usr/bin/env bash
# The import check must name an import the lists lack: here the lists with one
# of BINARY's own imports taken out.
#   import_check_test.sh BINARY
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
lists=$(mktemp -d /tmp/kelvane-lists.XXXXXX)
trap 'rm -rf "$lists"' EXIT
cp "$here"/../data/winapi/nt51/*.txt "$lists/"
grep -vx 'CloseHandle' "$here/../data/winapi/nt51/kernel32.txt" > "$lists/kernel32.txt"
rm "$lists/oleaut32.txt"
if out=$("$here/../../scripts/check-imports.sh" --lists "$lists" "$1"); then
    echo "$out"; echo "FAIL: the check passed without CloseHandle and oleaut32 in the lists"; exit 1
fi
echo "$out"
grep -q 'MISSING KERNEL32.dll!CloseHandle (not exported' <<<"$out" || { echo "FAIL: CloseHandle not named"; exit 1; }
grep -qi 'MISSING OLEAUT32.dll!.*no export list' <<<"$out" || { echo "FAIL: the unknown library not named"; exit 1; }
echo "PASS"
