# Shared by the Linux demos: kelvane built from the package's preset, the
# processes a demo starts (stopped at its exit), and its pace.
# Needs PERIOD (milliseconds a step is held) set before pause is called.
"$ROOT/scripts/setup.sh" --linux
cmake --preset linux-deb >/dev/null
cmake --build --preset linux-deb --target kelvane
KELVANE=$ROOT/build/linux-deb/service/kelvane

pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; }
trap cleanup EXIT
pause() { sleep "$(awk -v ms="$PERIOD" 'BEGIN { printf "%.3f", ms / 1000 }')"; }
stamp() { date +%H:%M:%S.%3N; }
