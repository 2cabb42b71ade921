#!/usr/bin/env bash
# Builds both presets and runs every test: native under ASan/UBSan, Windows under
# Wine in Xvfb, and the settings fuzzer for a bounded time.
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"
cd "$ROOT"

FUZZ_SECONDS=${KELVANE_FUZZ_SECONDS:-60}

"$ROOT/scripts/setup.sh"

say "native build (g++, AddressSanitizer + UBSan)"
cmake --preset native >/dev/null
cmake --build --preset native

say "win32 build (mingw-w64 i686, static)"
cmake --preset win32 >/dev/null
cmake --build --preset win32

status=0
say "native tests"
ctest --preset native || status=1

say "Windows tests under Wine"
xvfb-run -a -s '-screen 0 1024x768x24' "$ROOT/scripts/lib/wine-session.sh" ctest --preset win32 || status=1

say "settings fuzzer (${FUZZ_SECONDS}s)"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
corpus=$ROOT/build/fuzz/corpus-settings
mkdir -p "$corpus"
cp -n "$ROOT"/tests/fuzz/corpus/settings/* "$corpus"/
if "$ROOT/build/fuzz/tests/fuzz/fuzz_settings" -max_total_time="$FUZZ_SECONDS" -print_final_stats=1 \
        -artifact_prefix="$ROOT/build/fuzz/" "$corpus" >"$ROOT/build/fuzz/fuzz_settings.log" 2>&1; then
    grep -E 'stat::number_of_executed_units' "$ROOT/build/fuzz/fuzz_settings.log" || true
    echo "fuzz_settings: no crash"
else
    tail -40 "$ROOT/build/fuzz/fuzz_settings.log"
    echo "fuzz_settings: CRASH (see build/fuzz/)"
    status=1
fi

[ $status -eq 0 ] && say "all tests passed" || say "SOME TESTS FAILED"
exit $status
