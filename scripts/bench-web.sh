#!/usr/bin/env bash
# The web console's figures (a benchmark, not a test) against the real service
# following the real rigctld, in headless Chromium: latency from F to the
# page's text over band changes at random moments at poll 100 ms, the
# service's CPU with 16 pages open on an idle rig for a minute, its memory,
# what the page transfers, the peak memory a header flood costs and the answer
# time with 1 500 idle connections open. Writes its table to
# build/bench-web/results.md.
#
#   scripts/bench-web.sh [CHANGES]      (band changes, default 100)
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"
cd "$ROOT"

"$ROOT/scripts/setup.sh" --linux
cmake --preset bench >/dev/null
cmake --build --preset bench --target kelvane
OUT=$ROOT/build/bench-web
mkdir -p "$OUT"
say "measuring (about $(( ${1:-100} / 5 + 90 )) s)"
/usr/bin/python3 "$ROOT/scripts/bench_web.py" "$ROOT/build/bench/service/kelvane" "$OUT/results.md" "${1:-100}"
echo "written: $OUT/results.md"
