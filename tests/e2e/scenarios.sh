#!/usr/bin/env bash
# End-to-end scenarios on the built program under Wine: real X input through
# xdotool, the simulated host radio, and the port-driver library's journal.
#
#   scenarios.sh SCENARIO PROGRAM_DIR     (run inside one Wine session on a display)
set -euo pipefail
scenario=$1
bin=$2
source "$(dirname "$0")/../../scripts/lib/station.sh"

work=$(mktemp -d /tmp/kelvane-e2e.XXXXXX)
switcher= host=
cleanup() {
    [ -z "$host" ] || kill "$host" 2>/dev/null || true
    [ -z "$switcher" ] || kill "$switcher" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
install_journal_station "$bin" "$work"
: > "$work/ports.log"
cd "$work"

# Without a window manager every key event makes xdotool warn about the focus; the
# events still arrive.
xdotool() { command xdotool "$@" 2> >(grep -v 'XGetInputFocus' >&2); }

fail() { echo "FAIL: $*"; echo "--- journal:"; tail -20 ports.log; exit 1; }

# Waits (bounded) for a line in the journal; every wait here is for a real event.
wait_journal() {
    local pattern=$1 n=0
    until grep -q -- "$pattern" ports.log; do
        n=$((n + 1)); [ $n -lt 300 ] || fail "no journal line '$pattern' within 30 s"; sleep 0.1
    done
}
wait_exit() {
    local n=0
    while kill -0 "$switcher" 2>/dev/null; do
        n=$((n + 1)); [ $n -lt 300 ] || fail "the switcher did not end within 30 s"; sleep 0.1
    done
    wait "$switcher" || true
    switcher=
}
window_of() { timeout 60 xdotool search --sync --onlyvisible --name "^$1\$" | head -1; }
window_gone() {
    local n=0
    while xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1; do
        n=$((n + 1)); [ $n -lt 300 ] || fail "window '$1' still open after 30 s"; sleep 0.1
    done
}

start_switcher() {
    wine Kelvane.exe &
    switcher=$!
    main=$(window_of "Antenna switcher") || fail "the switcher window did not appear"
}
start_host() {
    wine KorvSimHost.exe "$@" > host.out &
    host=$!
    local n=0
    until grep -q '^ready' host.out; do
        n=$((n + 1)); [ $n -lt 300 ] || fail "the simulated host did not get ready"; sleep 0.1
    done
}

# Clicks at a point given in dialog units: the window's pixel size over its
# template size gives the scale, whatever font Wine substitutes.
click_du() {
    local win=$1 wdu=$2 hdu=$3 x=$4 y=$5
    eval "$(xdotool getwindowgeometry --shell "$win")"
    xdotool mousemove --window "$win" $(( x * WIDTH / wdu )) $(( y * HEIGHT / hdu )) click 1
}
click_main() { click_du "$main" 249 210 "$1" "$2"; }

type_frequency() {
    click_main 216 109  # the frequency field
    xdotool key --window "$main" End $(printf 'BackSpace %.0s' {1..12})
    xdotool type --window "$main" --delay 50 "$1"
}

settings_port() { od -An -t d4 -j 120 -N 4 Kelvaneer12.ini | tr -d ' '; }

case "$scenario" in
typing-switches-the-port)
    write_demo_station Kelvaneer12.ini
    start_switcher
    type_frequency 14200
    wait_journal 'DriverOutPB 0x0278 0x05'      # 20m -> "20m beam"
    type_frequency 7100
    wait_journal 'DriverOutPB 0x0278 0x03'      # 40m -> "40m dipole"
    xdotool key --window "$main" Escape
    wait_exit
    ;;
manual-choice-clears-auto)
    write_demo_station Kelvaneer12.ini
    start_host --freq 14200000
    start_switcher
    wait_journal 'DriverOutPB 0x0278 0x05'      # Auto follows the host into 20m
    click_main 116 197                          # open the current-antenna selector
    xdotool key --window "$main" Down Return    # the next antenna: "17m beam"
    wait_journal 'DriverOutPB 0x0278 0x06'
    # With Auto cleared the host is still read every 250 ms, but no longer switches:
    # eight poll periods later the 20m byte has not come back.
    sleep 2
    after=$(sed -n '/DriverOutPB 0x0278 0x06/,$p' ports.log | grep -c 'DriverOutPB 0x0278 0x05' || true)
    [ "$after" -eq 0 ] || fail "polls still switched after the manual choice ($after writes)"
    kill -0 "$switcher" || fail "the switcher ended"
    xdotool key --window "$main" Escape
    wait_exit
    ;;
escape-closes-and-saves)
    start_switcher
    [ ! -e Kelvaneer12.ini ] || fail "settings written before the end"
    xdotool key --window "$main" Escape
    wait_exit
    [ "$(stat -c %s Kelvaneer12.ini)" -eq 275 ] || fail "settings file is not the 275-byte default"
    ! grep -q DriverOutPB ports.log || fail "a byte was written without a match"
    ;;
config-changes-the-port)
    write_demo_station Kelvaneer12.ini
    start_switcher
    click_main 219 35                           # Config
    config=$(window_of Config) || fail "the Config dialog did not open"
    click_du "$config" 243 191 212 47           # the hexadecimal port field
    xdotool key --window "$config" End BackSpace BackSpace BackSpace BackSpace BackSpace
    xdotool type --window "$config" --delay 50 3bc
    click_du "$config" 243 191 208 157          # OK
    window_gone Config
    type_frequency 21200
    wait_journal 'DriverOutPB 0x03BC 0x07'      # 15m's byte, now at the new address
    ! grep -q 'DriverOutPB 0x0278' ports.log || fail "a byte still went to the old port"
    xdotool key --window "$main" Escape
    wait_exit
    [ "$(settings_port)" -eq 956 ] || fail "the new address was not saved ($(settings_port))"
    ;;
host-lost-ends-the-run)
    start_host --steps 14200000:1500
    start_switcher
    wait_journal 'DriverOutPB 0x0278 0x01'      # defaults: every band on antenna 1
    wait_exit                                   # the host's exit ends the switcher by itself
    [ "$(stat -c %s Kelvaneer12.ini)" -eq 275 ] || fail "settings not saved when the host was lost"
    ;;
ftdi-board-follows-the-host)
    # The ftdi backend on the fixture ftd2xx.dll (absent at first), which records
    # every call in ftdi.log: the bytes reach the board's D0-D7 as bands change.
    cp "$bin/tests/win32/port/fixtures/fake_ftd2xx.dll" ftd2xx.dll
    printf '%s\n' backend=ftdi serial=FT0AAA01 > KorvPortDll.cfg
    echo absent > ftdi.state
    write_demo_station Kelvaneer12.ini
    start_host --steps 14200000:3000,7100000:3000,21200000:3000
    start_switcher
    wait_file() {
        local file=$1 pattern=$2 n=0
        until grep -q -- "$pattern" "$file" 2>/dev/null; do
            n=$((n + 1)); [ $n -lt 300 ] || { cat "$file" ftdi.log; fail "no '$pattern' in $file within 30 s"; }; sleep 0.1
        done
    }
    wait_file KorvPortDll-status.log 'not found: no FTDI device with serial FT0AAA01'
    : > ftdi.state                              # plugged in while the program runs
    wait_file ftdi.log 'FT_Write 0 05 -> 0'     # 20m
    wait_file ftdi.log 'FT_Write 0 03 -> 0'     # 40m
    wait_file ftdi.log 'FT_Write 0 07 -> 0'     # 15m
    grep -q 'FT_SetBitMode 0 FF 01' ftdi.log || fail "the board was not put in bit-bang mode"
    grep -q 'found: FT0AAA01' KorvPortDll-status.log || fail "the status log does not tell the board was found"
    wait_exit
    tail -1 ftdi.log | grep -q 'FT_Close 0' || fail "the board was not closed at the end"
    ;;
*)
    echo "unknown scenario $scenario" >&2; exit 2 ;;
esac
echo "PASS: $scenario"
