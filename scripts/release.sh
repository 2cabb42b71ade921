#!/usr/bin/env bash
# Makes the release: build/release/Kelvane-<version>-win32.zip, with the
# program, its port-driver library, the example configs, the guide and the
# licence. The version comes from project(Kelvane VERSION ...) in CMakeLists.txt.
# Refuses to finish when a binary imports anything Windows XP SP3 lacks.
#
#   scripts/release.sh          (installs what it needs through scripts/setup.sh)
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"
cd "$ROOT"

case "${1:-}" in
    "") ;;
    -h|--help) sed -n '2,7s/^# \{0,1\}//p' "$0"; exit 0 ;;
    *) echo "usage: scripts/release.sh" >&2; exit 2 ;;
esac

"$ROOT/scripts/setup.sh"

say "release build (mingw-w64 i686, win32 threads)"
cmake --preset release >/dev/null
cmake --build --preset release --target package

say "imports against Windows XP SP3's system libraries"
"$ROOT/scripts/check-imports.sh" build/release/Kelvane.exe build/release/KorvPortDll.dll

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/release/CMakeCache.txt)
say "made build/release/Kelvane-$version-win32.zip"
