# Shared by the Linux demos: kelvane built from the package's preset (or the
# native build's, when that exists and the package's does not: no first build
# of minutes for a demo), the processes a demo starts (stopped at its exit),
# and its pace. Needs PERIOD (milliseconds a step is held) set before pause is called.
"$ROOT/scripts/setup.sh" --linux
PRESET=linux-deb
[ ! -d "$ROOT/build/linux-deb" ] && [ -x "$ROOT/build/native/service/kelvane" ] && PRESET=native
cmake --preset $PRESET >/dev/null
cmake --build --preset $PRESET --target kelvane
KELVANE=$ROOT/build/$PRESET/service/kelvane

pids=()
# Last started, first stopped: a program outlives nothing it depends on (a broker, a rig).
cleanup() {
    local i
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null && { wait "${pids[i]}"; } 2>/dev/null || true
    done
    wait 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM  # through the EXIT trap: Ctrl-C stops what the demo started
pause() { sleep "$(awk -v ms="$PERIOD" 'BEGIN { printf "%.3f", ms / 1000 }')"; }
stamp() { date +%H:%M:%S.%3N; }
