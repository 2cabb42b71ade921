#!/usr/bin/env bash
# The Linux edition following Hamlib's dummy rig (rigctld -m 1) through the
# bands, with every output write printed as it happens. Halfway, the rig keys
# transmit just before a band change: the change waits until it is back on receive.
#
#   scripts/demo-linux.sh [--period MS]     (each band is held for MS, default 1500)
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"
source "$(dirname "$0")/lib/station.sh"

PERIOD=1500
while [ $# -gt 0 ]; do
    case "$1" in
        --period) PERIOD=$2; shift 2 ;;
        *) echo "usage: scripts/demo-linux.sh [--period MS]" >&2; exit 2 ;;
    esac
done

DEMO=$ROOT/build/demo-linux
"$ROOT/scripts/setup.sh" --linux
cmake --preset linux-deb >/dev/null
cmake --build --preset linux-deb --target kelvane
KELVANE=$ROOT/build/linux-deb/linux/kelvane
mkdir -p "$DEMO"
# Kept from run to run, so that changes made with `kelvane settings` show.
[ -f "$DEMO/Kelvaneer12.ini" ] || write_demo_station "$DEMO/Kelvaneer12.ini"

# A port nothing listens on.
PORT=4532
while (exec 3<>"/dev/tcp/127.0.0.1/$PORT") 2>/dev/null; do PORT=$((PORT + 1)); done
rig() { rigctl -m 2 -r "127.0.0.1:$PORT" "$@" >/dev/null; }
pause() { sleep "$(awk -v ms="$PERIOD" 'BEGIN { printf "%.3f", ms / 1000 }')"; }
stamp() { date +%H:%M:%S.%3N; }

pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; }
trap cleanup EXIT

rigctld -m 1 -P RIG -T 127.0.0.1 -t "$PORT" &
pids+=($!)
until (exec 3<>"/dev/tcp/127.0.0.1/$PORT") 2>/dev/null; do sleep 0.05; done

say "rigctld -m 1 on port $PORT; kelvane polls it every 100 ms"
: > "$DEMO/journal.log"
"$KELVANE" --settings "$DEMO/Kelvaneer12.ini" --rigctld "127.0.0.1:$PORT" --output "journal:$DEMO/journal.log" \
    2> >(sed -u "s/^/$(printf '\t\t\t')log  /") &
KPID=$!
pids+=($KPID)
# Each journal line as it is written: its own time, the byte and the antenna.
tail -n 0 -F "$DEMO/journal.log" 2>/dev/null | while read -r us byte antenna name; do
    printf '%s  OUTPUT %s %s %s\n' "$(date -d "@$((us / 1000000))" +%H:%M:%S).$(printf '%03d' $(((us / 1000) % 1000)))" \
        "$byte" "$antenna" "$name"
done &
pids+=($!)
sleep 0.3

# One frequency inside each band, in kHz, and the bands' names.
FREQS=(1840 3650 7100 10120 14200 18100 21200 24940 28500 50150)
BANDS=(160m 80m 40m 30m 20m 17m 15m 12m 10m 6m)
for i in "${!FREQS[@]}"; do
    if [ "$i" -eq 5 ]; then
        echo "$(stamp)  rig: transmit on (T 1)"
        rig T 1
        pause
        echo "$(stamp)  rig: F ${FREQS[$i]} kHz (${BANDS[$i]}) while transmitting: the switch is held"
        rig F "${FREQS[$i]}000"
        pause
        echo "$(stamp)  rig: back on receive (T 0): the held change is made now"
        rig T 0
        pause
        continue
    fi
    echo "$(stamp)  rig: F ${FREQS[$i]} kHz (${BANDS[$i]})"
    rig F "${FREQS[$i]}000"
    pause
done
echo "$(stamp)  rig: F 9000 kHz, between bands: nothing changes"
rig F 9000000
pause

kill -TERM "$KPID"
wait "$KPID" || true
sleep 0.2
say "journal: $DEMO/journal.log ($(wc -l < "$DEMO/journal.log") writes); settings: $DEMO/Kelvaneer12.ini"
