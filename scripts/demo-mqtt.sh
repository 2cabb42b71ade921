#!/usr/bin/env bash
# The station bus: mosquitto on loopback, an agent kelvane (no output) that
# follows a logger's RadioInfo datagrams and publishes its radio, and the
# switching kelvane following that radio through the broker; mosquitto_sub
# shows the topics as they change. At the end the agent is killed: its last
# will says offline and the switching kelvane holds, the source lost.
#
#   scripts/demo-mqtt.sh [--period MS]     (each step is held for MS, default 1500)
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"
source "$(dirname "$0")/lib/station.sh"

period_option demo-mqtt "$@"

DEMO=$ROOT/build/demo-mqtt
source "$ROOT/scripts/lib/demo.sh"
mkdir -p "$DEMO"
write_demo_station "$DEMO/Kelvaneer12.ini"

free_port() { python3 -c 'import socket,sys; s=socket.socket(type=int(sys.argv[1])); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])' "$1"; }
BROKER=$(free_port 1)
UDP=$(free_port 2)
printf 'listener %s 127.0.0.1\nallow_anonymous true\nset_tcp_nodelay true\nlog_dest none\n' "$BROKER" > "$DEMO/mosquitto.conf"
mosquitto -c "$DEMO/mosquitto.conf" &
pids+=($!)
until (exec 3<>"/dev/tcp/127.0.0.1/$BROKER") 2>/dev/null; do sleep 0.05; done
say "mosquitto on 127.0.0.1:$BROKER; the logger's datagrams go to udp 127.0.0.1:$UDP"

# Pipes into process substitutions, so that $! is the program and stopping it ends its printer.
mosquitto_sub -p "$BROKER" -v -t 'kelvane/#' > >(while read -r topic payload; do
    printf '%s  MQTT %s %s\n' "$(stamp)" "$topic" "${payload:0:110}"
done) &
pids+=($!)
: > "$DEMO/shack.journal"
"$KELVANE" --settings "$DEMO/Kelvaneer12.ini" --source "udp:127.0.0.1:$UDP" --output none \
    --mqtt "mqtt://127.0.0.1:$BROKER" --mqtt-station agent --mqtt-discovery no \
    2> >(sed -u "s/^/$(printf '\t\t\t')agent  /") &
AGENT=$!
pids+=($AGENT)
"$KELVANE" --settings "$DEMO/Kelvaneer12.ini" --source mqtt:kelvane/agent/radio/1/state \
    --output "journal:$DEMO/shack.journal" --mqtt "mqtt://127.0.0.1:$BROKER" --mqtt-station shack \
    2> >(sed -u "s/^/$(printf '\t\t\t')shack  /") &
pids+=($!)
tail -n 0 -q -F "$DEMO/shack.journal" 2>/dev/null > >(while read -r us rest; do
    printf '%s  OUTPUT %s\n' "$(date -d "@$((us / 1000000))" +%H:%M:%S).$(printf '%03d' $(((us / 1000) % 1000)))" "$rest"
done) &
pids+=($!)
pause

# TENS_OF_HZ TRANSMITTING: one RadioInfo datagram from the "logger".
logger() {
    echo "$(stamp)  logger: $1 x 10 Hz, transmitting $2"
    printf '<RadioInfo><Freq>%s</Freq><IsTransmitting>%s</IsTransmitting></RadioInfo>' "$1" "$2" \
        > "/dev/udp/127.0.0.1/$UDP"
    pause
}
logger 1420000 False  # 20 m
logger 710000 True    # 40 m while transmitting: the shack holds
logger 710000 False   # receive: the shack switches
echo "$(stamp)  a pick through the broker: antenna 4 for the shack's radio"
mosquitto_pub -p "$BROKER" -t kelvane/shack/radio/1/antenna/set -m 4
pause
echo "$(stamp)  the agent vanishes (kill -9): its will says offline, the shack's source is lost"
kill -KILL "$AGENT"
{ wait "$AGENT"; } 2>/dev/null || true  # the shell's own "Killed" line is not the demo's
pause
