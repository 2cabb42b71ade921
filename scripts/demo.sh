#!/usr/bin/env bash
# The switcher following a simulated host radio, with every port write printed
# as it happens. With a display it runs until the switcher is closed; without
# one it runs under Xvfb, sweeps the bands once, saves a screenshot and stops.
#
#   scripts/demo.sh [--period MS]     (each band is held for MS, default 1500)
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"
source "$(dirname "$0")/lib/station.sh"

PERIOD=1500
while [ $# -gt 0 ]; do
    case "$1" in
        --period) PERIOD=$2; shift 2 ;;
        --inner) INNER=1; shift ;;
        *) echo "usage: scripts/demo.sh [--period MS]" >&2; exit 2 ;;
    esac
done

DEMO=$ROOT/build/demo
BIN=$ROOT/build/win32

# Antenna names and bytes as the settings file holds them at start.
load_antenna_names() {
    local file=$1 i=0 name
    mapfile -t VALUES < <(od -An -v -t u4 -j 124 -N 40 "$file" | tr -s ' ' '\n' | sed '/^$/d')
    while IFS= read -r name && [ $i -lt 10 ]; do NAMES[$i]=$name; i=$((i + 1)); done \
        < <(tail -c +165 "$file" | tr '\0' '\n')
}

# One line per port write: port, byte and the antenna (or antennas) with that byte.
# Follows from line FROM + 1 until process PID has ended.
follow_journal() {
    tail -n +$(( $1 + 1 )) --pid="$2" -F "$DEMO/ports.log" 2>/dev/null | while read -r stamp call port value _; do
        [ "$call" = DriverOutPB ] || continue
        local who="" i
        for i in 0 1 2 3 4 5 6 7 8 9; do
            if [ $(( ${VALUES[$i]:-0} & 255 )) -eq $(( value )) ]; then who+="${who:+ / }${NAMES[$i]}"; fi
        done
        printf '%s  port %s  byte %s  %s\n' "${stamp#*T}" "$port" "$value" "${who:-(no antenna has this byte)}"
    done
}

distinct_bytes_since() {
    tail -n +$(( $1 + 1 )) "$DEMO/ports.log" | awk '$2 == "DriverOutPB" { print $4 }' | sort -u | wc -l
}

inner() {
    cd "$DEMO"
    load_antenna_names "$DEMO/Kelvaneer12.ini"
    local rounds=1 frames_key='HKCU\Software\Wine\AppDefaults\Kelvane.exe\X11 Driver'
    [ -n "${KELVANE_DEMO_HEADLESS:-}" ] || rounds=0
    if [ -n "${KELVANE_DEMO_HEADLESS:-}" ]; then
        # Xvfb has no window manager: Wine then draws the frame itself, so the
        # screenshot shows the caption. Only for this run; on a desktop the
        # window manager frames the window as usual.
        wine reg add "$frames_key" /v Managed /d N /f >/dev/null 2>&1 || true
        trap "wine reg delete '$frames_key' /f >/dev/null 2>&1 || true" EXIT
    fi
    touch "$DEMO/ports.log"
    local start_lines
    start_lines=$(wc -l < "$DEMO/ports.log")
    wine "$DEMO/KorvSimHost.exe" --sweep --period "$PERIOD" --repeat "$rounds" \
        | sed -u -n 's/^change [0-9]* hz \(.*\)/host radio: \1 Hz/p' &
    wine "$DEMO/Kelvane.exe" &
    local switcher=$!
    # Ends by itself once the switcher has gone and the last lines are printed.
    follow_journal "$start_lines" "$switcher" &
    local follower=$!
    if [ -n "${KELVANE_DEMO_HEADLESS:-}" ]; then
        local window
        window=$(timeout 60 xdotool search --sync --name '^Antenna switcher$' | head -1)
        # Once the switcher has followed the host through a few bands, so the
        # window shows a band being followed.
        local n=0
        while [ "$(distinct_bytes_since "$start_lines")" -lt 3 ] \
              && kill -0 "$switcher" 2>/dev/null && [ $n -lt 600 ]; do sleep 0.1; n=$((n + 1)); done
        import -window "$window" "$DEMO/switcher.png" && echo "screenshot: $DEMO/switcher.png"
    fi
    # The switcher closes itself when the host's sweep ends, or when the user closes it.
    wait "$switcher" || true
    wait "$follower" || true
    echo "switcher closed; settings kept in $DEMO/Kelvaneer12.ini"
}

if [ -n "${INNER:-}" ]; then inner; exit 0; fi

"$ROOT/scripts/setup.sh"
# Without 32-bit programs Wine cannot show the Windows switcher: the Linux
# edition does the same job against the dummy rig.
if ! runs_i386; then
    say "the Windows switcher cannot run here ($NO_I386); showing the Linux edition instead"
    exec "$ROOT/scripts/demo-linux.sh" --period "$PERIOD"
fi
cmake --preset win32 >/dev/null
cmake --build --preset win32 --target Kelvane KorvPortDll korv_sim_host
mkdir -p "$DEMO"
install_journal_station "$BIN" "$DEMO"
# Written only when the demo directory has no settings yet, so changes made in
# the demo are kept from run to run.
[ -f "$DEMO/Kelvaneer12.ini" ] || write_demo_station "$DEMO/Kelvaneer12.ini"

if [ -n "${DISPLAY:-}" ]; then
    "$ROOT/scripts/lib/wine-session.sh" "$0" --inner --period "$PERIOD"
else
    KELVANE_DEMO_HEADLESS=1 xvfb-run -a -s '-screen 0 1024x768x24' \
        "$ROOT/scripts/lib/wine-session.sh" "$0" --inner --period "$PERIOD"
fi
