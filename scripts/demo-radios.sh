#!/usr/bin/env bash
# Two radios sharing the demo station's antennas, each following a Hamlib
# dummy rig of its own (rigctld -m 1): the second radio on the first's band
# gets the band's alternate, keeps it while it transmits, moves to the first
# choice on receive, and with its band's one antenna taken is blocked, only its
# inhibit line set, until that antenna frees.
#
#   scripts/demo-radios.sh [--period MS]     (each step is held for MS, default 1500)
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"
source "$(dirname "$0")/lib/station.sh"

period_option demo-radios "$@"

DEMO=$ROOT/build/demo-radios
source "$ROOT/scripts/lib/demo.sh"
mkdir -p "$DEMO"
write_demo_station "$DEMO/Kelvaneer12.ini"


declare -A PORTS
port=4532
for radio in A B; do
    while (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do port=$((port + 1)); done
    rigctld -m 1 -P RIG -T 127.0.0.1 -t "$port" &
    pids+=($!)
    until (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do sleep 0.05; done
    PORTS[$radio]=$port
    port=$((port + 1))
done
# RADIO F HZ | RADIO T 0|1: set on that radio's dummy rig.
rig() {
    local radio=$1; shift
    echo "$(stamp)  radio $radio: $*"
    rigctl -m 2 -r "127.0.0.1:${PORTS[$radio]}" "$@" >/dev/null
    pause
}

cat > "$DEMO/kelvane.conf" <<CONF
[radio A]
source = rigctld:127.0.0.1:${PORTS[A]}
output = journal:$DEMO/a.journal
[radio B]
source = rigctld:127.0.0.1:${PORTS[B]}
output = journal:$DEMO/b.journal
inhibit = 8
# 20 m: the 20 m beam, then the 15 m beam, then the 17 m beam
[band 5]
alternates = 7 6
CONF
say "radios A and B, each on a dummy rig (ports ${PORTS[A]}, ${PORTS[B]}); config $DEMO/kelvane.conf"
: > "$DEMO/a.journal"
: > "$DEMO/b.journal"
rig A F 1840000
rig B F 3650000
"$KELVANE" --config "$DEMO/kelvane.conf" --settings "$DEMO/Kelvaneer12.ini" \
    2> >(sed -u "s/^/$(printf '\t\t\t')log  /") &
KPID=$!
pids+=($KPID)
tail -n 0 -q -F "$DEMO/a.journal" "$DEMO/b.journal" 2>/dev/null > >(while read -r us rest; do
    printf '%s  OUTPUT %s\n' "$(date -d "@$((us / 1000000))" +%H:%M:%S).$(printf '%03d' $(((us / 1000) % 1000)))" "$rest"
done) &  # $! is tail itself, so the cleanup stops it
pids+=($!)
pause

rig A F 14200000  # 20 m: the beam
rig B F 14150000  # 20 m too: the beam is A's, so the first alternate
rig B T 1
rig A F 7100000   # the beam frees while B transmits: B stays
rig B T 0         # on receive B takes it
rig B F 7050000   # 40 m has one antenna, A's: B is blocked, inhibit line 8 set
rig A F 21200000  # A leaves 40 m: B takes the dipole at its next poll

kill -TERM "$KPID"
wait "$KPID" || true
say "journals: $DEMO/a.journal ($(wc -l < "$DEMO/a.journal") writes), $DEMO/b.journal ($(wc -l < "$DEMO/b.journal") writes)"
