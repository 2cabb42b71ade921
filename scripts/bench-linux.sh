#!/usr/bin/env bash
# The Linux edition's figures against the real rigctld (a benchmark, not a test):
# latency from F to the journal line over band changes at random moments at
# poll 100 ms, CPU per poll and memory, beside the shell loop an operator would
# write (rigctl every poll), and 100 000 polls back to back in process; the
# same latency against the real flrig (under Xvfb, port 12345), and from a
# RadioInfo datagram leaving its sender to the journal line.
# Writes its tables to build/bench-linux/results.md.
#
# --two-radios measures instead one service following two rigctld (two radios
# sharing antennas, each polled at 100 ms) beside one following one, in one
# run: per radio, F to its journal line; then radio A again with B's rigctld
# replaced by a listener that accepts and never answers (the hung-neighbour
# row). Written to build/bench-linux/two-radios.md.
#
# --mqtt measures instead the station bus through a mosquitto on loopback: a
# datagram at an agent kelvane (output none) to the journal line of a kelvane
# following it through the broker, beside the datagram straight to a kelvane;
# then the agent fed 1 000 datagrams a second for 10 s: CPU and memory of both,
# and whether the last datagram's band is the last line. Written to
# build/bench-linux/mqtt.md.
#
#   scripts/bench-linux.sh [--two-radios|--mqtt] [CHANGES]   (band changes per loop or radio, default 200)
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"
cd "$ROOT"
MODE= RESULTS=results.md SECONDS_EXTRA=60
case "${1:-}" in
    --two-radios) MODE=two-radios RESULTS=two-radios.md SECONDS_EXTRA=$(( ${2:-200} * 3 / 10 + 5 )); shift ;;
    --mqtt) MODE=mqtt RESULTS=mqtt.md SECONDS_EXTRA=$(( 20 - ${2:-200} * 9 / 10 )); shift ;;
esac

"$ROOT/scripts/setup.sh" --linux
cmake --preset bench >/dev/null
cmake --build --preset bench --target kelvane linux_bench
OUT=$ROOT/build/bench-linux
mkdir -p "$OUT"
say "measuring (about $(( ${1:-200} + SECONDS_EXTRA )) s)"
"$ROOT/build/bench/tests/bench/linux_bench" "$ROOT/build/bench/service/kelvane" "$OUT" "${1:-200}" $MODE |
    tee "$OUT/$RESULTS"
echo "written: $OUT/$RESULTS"
