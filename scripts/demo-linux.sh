#!/usr/bin/env bash
# The Linux edition following Hamlib's dummy rig (rigctld -m 1) through the
# bands, with every output write printed as it happens. Halfway, the rig keys
# transmit just before a band change: the change waits until it is back on receive.
# With --source udp it follows RadioInfo datagrams that our own sender sends to
# 127.0.0.1 instead, as a logger on the LAN would.
#
#   scripts/demo-linux.sh [--source rigctld|udp] [--period MS]     (each band is held for MS, default 1500)
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"
source "$(dirname "$0")/lib/station.sh"

PERIOD=1500
SOURCE=rigctld
while [ $# -gt 0 ]; do
    case "$1" in
        --period) PERIOD=$2; shift 2 ;;
        --source) SOURCE=$2; shift 2 ;;
        *) echo "usage: scripts/demo-linux.sh [--source rigctld|udp] [--period MS]" >&2; exit 2 ;;
    esac
done
case "$SOURCE" in rigctld | udp) ;; *) echo "--source: rigctld or udp" >&2; exit 2 ;; esac

DEMO=$ROOT/build/demo-linux
source "$ROOT/scripts/lib/demo.sh"
mkdir -p "$DEMO"
# Kept from run to run, so that changes made with `kelvane settings` show.
[ -f "$DEMO/Kelvaneer12.ini" ] || write_demo_station "$DEMO/Kelvaneer12.ini"


if [ "$SOURCE" = rigctld ]; then
    # A port nothing listens on.
    PORT=4532
    while (exec 3<>"/dev/tcp/127.0.0.1/$PORT") 2>/dev/null; do PORT=$((PORT + 1)); done
    rigctld -m 1 -P RIG -T 127.0.0.1 -t "$PORT" &
    pids+=($!)
    until (exec 3<>"/dev/tcp/127.0.0.1/$PORT") 2>/dev/null; do sleep 0.05; done
    say "rigctld -m 1 on port $PORT; kelvane polls it every 100 ms"
    SPEC=rigctld:127.0.0.1:$PORT WHO=rig
    # F HZ, T 0|1: set on the dummy rig.
    rig() { rigctl -m 2 -r "127.0.0.1:$PORT" "$@" >/dev/null; }
else
    # A UDP port the system finds free.
    PORT=$(python3 -c 'import socket; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    say "kelvane listens for RadioInfo datagrams on 127.0.0.1:$PORT (radio 1); scripts/lib/radioinfo-send.py plays the logger"
    SPEC=udp:127.0.0.1:$PORT,radio=1 WHO=logger
    # The same words as for rigctld, said by datagram: the logger sends its whole state each time.
    FREQ=0 TX=
    rig() {
        case "$1" in F) FREQ=$2 ;; T) if [ "$2" = 1 ]; then TX=--tx; else TX=; fi ;; esac
        python3 "$ROOT/scripts/lib/radioinfo-send.py" --port "$PORT" --freq "$FREQ" $TX
    }
fi

: > "$DEMO/journal.log"
"$KELVANE" --settings "$DEMO/Kelvaneer12.ini" --source "$SPEC" --output "journal:$DEMO/journal.log" \
    2> >(sed -u "s/^/$(printf '\t\t\t')log  /") &
KPID=$!
pids+=($KPID)
# Each journal line as it is written: its own time, the byte and the antenna.
tail -n 0 -F "$DEMO/journal.log" 2>/dev/null > >(while read -r us byte antenna name; do
    printf '%s  OUTPUT %s %s %s\n' "$(date -d "@$((us / 1000000))" +%H:%M:%S).$(printf '%03d' $(((us / 1000) % 1000)))" \
        "$byte" "$antenna" "$name"
done) &  # $! is tail itself, so the cleanup stops it
pids+=($!)
sleep 0.3

# One frequency inside each band, in kHz, and the bands' names.
FREQS=(1840 3650 7100 10120 14200 18100 21200 24940 28500 50150)
BANDS=(160m 80m 40m 30m 20m 17m 15m 12m 10m 6m)
for i in "${!FREQS[@]}"; do
    if [ "$i" -eq 5 ]; then
        echo "$(stamp)  $WHO: transmit on (T 1)"
        rig T 1
        pause
        echo "$(stamp)  $WHO: F ${FREQS[$i]} kHz (${BANDS[$i]}) while transmitting: the switch is held"
        rig F "${FREQS[$i]}000"
        pause
        echo "$(stamp)  $WHO: back on receive (T 0): the held change is made now"
        rig T 0
        pause
        continue
    fi
    echo "$(stamp)  $WHO: F ${FREQS[$i]} kHz (${BANDS[$i]})"
    rig F "${FREQS[$i]}000"
    pause
done
echo "$(stamp)  $WHO: F 9000 kHz, between bands: nothing changes"
rig F 9000000
pause

kill -TERM "$KPID"
wait "$KPID" || true
sleep 0.2
say "journal: $DEMO/journal.log ($(wc -l < "$DEMO/journal.log") writes); settings: $DEMO/Kelvaneer12.ini"
