#!/usr/bin/env bash
# Measures the built switcher under Wine: switching latency end to end, CPU per
# poll tick, memory and handles over many ticks, and start-up time. Prints one
# table and writes it to build/bench-win32/results.md. Reports only; asserts
# nothing, and is no part of the test suite. See docs/benchmarks.md.
#
#   scripts/bench.sh [--changes N] [--ticks N] [--runs N] [--seed N] [--out FILE]
#   scripts/bench.sh --driver-writes N   (only: one write through each backend of
#                                         KorvPortDll.dll on the fixture devices)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
# A prefix of its own: wine-session.sh ends its Wine server when done, which
# must never cut off a test run in the project's usual prefix.
export KELVANE_WINEPREFIX=${KELVANE_WINEPREFIX:-$ROOT/build/wineprefix-bench}
source "$ROOT/scripts/lib/common.sh"
source "$ROOT/scripts/lib/station.sh"
source "$ROOT/scripts/lib/bench-stats.sh"

CHANGES=210   # band changes for the latency figure
TICKS=20000   # ticks of the time-compressed build for the memory figures
RUNS=5        # start-ups of each program for the start-up figure
SEED=4242
BUILD=${KELVANE_BENCH_BUILD:-$ROOT/build/bench-win32}
OUT=$BUILD/results.md
while [ $# -gt 0 ]; do
    case "$1" in
        --changes) CHANGES=$2; shift 2 ;;
        --ticks) TICKS=$2; shift 2 ;;
        --runs) RUNS=$2; shift 2 ;;
        --seed) SEED=$2; shift 2 ;;
        --out) OUT=$2; shift 2 ;;
        --inner) INNER=1; shift ;;
        --driver-writes) DRIVER_WRITES=$2; shift 2 ;;
        *) echo "usage: scripts/bench.sh [--changes N] [--ticks N] [--runs N] [--seed N] [--out FILE] | --driver-writes N" >&2; exit 2 ;;
    esac
done
WORK=$BUILD/bench-run
TITLE='^Antenna switcher$'
IDLE_TITLE='^Bench idle$'

# ---- helpers used inside the Wine session ----------------------------------

now_ns() { date +%s%N; }

# CPU time of a Linux process in ms, all its threads: utime + stime from
# /proc/PID/stat (clock ticks) ...
cpu_ms_stat() {
    if [ -n "$1" ] && [ -r "/proc/$1/stat" ]; then
        # The command name may hold blanks: count fields from after its ')'.
        sed 's/.*) //' "/proc/$1/stat" | awk -v hz="$(getconf CLK_TCK)" '{ print ($12 + $13) * 1000 / hz }'
    else
        echo 0
    fi
}
# ... and the scheduler's nanosecond run time summed over the live threads,
# finer than the 10 ms clock tick.
cpu_ms_sched() { cat /proc/"${1:-0}"/task/*/schedstat 2>/dev/null | awk '{ s += $1 } END { printf "%.3f", s / 1e6 }'; }

# The wineserver of this session: the one whose environment names our prefix.
wineserver_pid() {
    local p
    for p in $(pgrep '^wineserver'); do
        if tr '\0' '\n' < "/proc/$p/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX"; then echo "$p"; return; fi
    done
}

# Polls (10 ms) for a visible window whose title matches; prints its id.
wait_window() {
    local title=$1 limit=$2 n=0 w
    while :; do
        w=$(xdotool search --onlyvisible --name "$title" 2>/dev/null | head -1 || true)
        [ -z "$w" ] || { echo "$w"; return 0; }
        n=$((n + 1)); [ $n -lt "$limit" ] || return 1
        sleep 0.01
    done
}

wait_line() {  # FILE PATTERN: waits up to 60 s for a line
    local n=0
    until grep -q -- "$2" "$1" 2>/dev/null; do
        n=$((n + 1)); [ $n -lt 600 ] || { echo "bench: no '$2' in $1 after 60 s" >&2; return 1; }
        sleep 0.1
    done
}

out_count() { grep -c ' DriverOutPB ' "$1" 2>/dev/null || true; }

close_window() {  # PID TITLE: Escape to the window, then wait for the process
    local w n=0
    w=$(xdotool search --onlyvisible --name "$2" 2>/dev/null | head -1 || true)
    [ -z "$w" ] || xdotool key --window "$w" Escape 2>/dev/null || true
    while kill -0 "$1" 2>/dev/null; do
        n=$((n + 1)); if [ $n -gt 100 ]; then kill "$1" 2>/dev/null || true; fi
        sleep 0.1
    done
    wait "$1" 2>/dev/null || true
}

# ---- 1 and 2: latency and CPU per tick --------------------------------------

# Random holds (300-700 ms, longer than the longest expected latency, so every
# change is seen before the next) at random moments against the poll; each
# change goes to another band's centre. Band i's byte is i + 1.
make_latency_script() {
    local lo=(1750 3500 7000 10100 14000 18068 21000 24890 28000 50000)
    local hi=(2000 4000 7200 10500 14350 18168 21450 24990 29700 54000)
    local band=0 next i
    RANDOM=$SEED
    echo "# warm-up: the switcher attaches on this one"
    echo "$(( (lo[0] + hi[0]) * 500 )) 3000"
    for ((i = 0; i < CHANGES; i++)); do
        next=$(( RANDOM % 9 )); [ $next -lt $band ] || next=$((next + 1))
        band=$next
        echo "$(( (lo[band] + hi[band]) * 500 )) $(( 300 + RANDOM % 401 ))"
    done
}

phase_latency_cpu() {
    local dir=$WORK/latency
    cd "$dir"
    make_latency_script > changes.txt
    : > ports.log

    wine bench_idle.exe & local idle=$!
    wine Kelvane.exe & local sw=$!
    wait_window "$TITLE" 6000 >/dev/null || { echo "bench: no switcher window" >&2; return 1; }
    wait_window "$IDLE_TITLE" 6000 >/dev/null || true
    wine KorvSimHost.exe --script changes.txt > host.out & local host=$!
    wait_line host.out '^ready'
    local host_pid_line
    host_pid_line=$(grep '^ready' host.out)
    echo "simulated host: $host_pid_line" >&2

    # CPU window: from well after attaching to before the last change.
    wait_line ports.log 'DriverOutPB'
    sleep 2
    local ws; ws=$(wineserver_pid)
    local t0 l0 k0 h0 i0 s0 ks0 hs0 is0
    t0=$(now_ns); l0=$(out_count ports.log)
    k0=$(cpu_ms_stat $sw); h0=$(cpu_ms_stat $host); i0=$(cpu_ms_stat $idle); s0=$(cpu_ms_stat "$ws")
    ks0=$(cpu_ms_sched $sw); hs0=$(cpu_ms_sched $host); is0=$(cpu_ms_sched $idle)
    local total_ms; total_ms=$(awk 'NR > 2 { s += $2 } END { print s }' changes.txt)
    sleep "$(awk -v t="$total_ms" 'BEGIN { printf "%.1f", t / 1000 - 3 }')"
    local t1 l1 k1 h1 i1 s1 ks1 hs1 is1
    t1=$(now_ns); l1=$(out_count ports.log)
    k1=$(cpu_ms_stat $sw); h1=$(cpu_ms_stat $host); i1=$(cpu_ms_stat $idle); s1=$(cpu_ms_stat "$ws")
    ks1=$(cpu_ms_sched $sw); hs1=$(cpu_ms_sched $host); is1=$(cpu_ms_sched $idle)
    {
        echo "seconds $(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.1f", (b - a) / 1e9 }')"
        echo "ticks $(( l1 - l0 ))"
        echo "switcher $(awk -v a="$k0" -v b="$k1" 'BEGIN { print b - a }') $(awk -v a="$ks0" -v b="$ks1" 'BEGIN { print b - a }')"
        echo "host $(awk -v a="$h0" -v b="$h1" 'BEGIN { print b - a }') $(awk -v a="$hs0" -v b="$hs1" 'BEGIN { print b - a }')"
        echo "idle $(awk -v a="$i0" -v b="$i1" 'BEGIN { print b - a }') $(awk -v a="$is0" -v b="$is1" 'BEGIN { print b - a }')"
        echo "wineserver $(awk -v a="$s0" -v b="$s1" 'BEGIN { print b - a }') -"
    } > cpu.txt

    # The host's script ends; the switcher loses it and closes by itself.
    wait "$host" || true
    local n=0
    while kill -0 "$sw" 2>/dev/null && [ $n -lt 100 ]; do sleep 0.1; n=$((n + 1)); done
    kill -0 "$sw" 2>/dev/null && close_window "$sw" "$TITLE"
    wait "$sw" 2>/dev/null || true
    close_window "$idle" "$IDLE_TITLE"

    latency_pairs host.out ports.log > latency.txt
}

# ---- 3: memory and handles over many ticks -----------------------------------

probe() {  # LABEL TICKS PID HOSTPID: one row of figures
    local label=$1 ticks=$2 pid=$3 hostpid=$4 api
    api=$(wine bench_probe.exe KelvaneFast.exe 2>/dev/null | tr -d '\r' | tr '\n' ' ')
    local rss priv fds
    rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status")
    priv=$(awk '/^Private_(Clean|Dirty):/ { s += $2 } END { print s }' "/proc/$pid/smaps_rollup")
    fds=$(ls "/proc/$pid/fd" | wc -l)
    echo "$label ticks=$ticks $api linux_rss_kb=$rss linux_private_kb=$priv linux_fds=$fds" \
         "cpu_ms=$(cpu_ms_stat "$pid") cpu_sched_ms=$(cpu_ms_sched "$pid") host_cpu_ms=$(cpu_ms_stat "$hostpid")"
}

phase_memory() {
    local dir=$WORK/memory
    cd "$dir"
    : > ports.log
    # Every band in turn, 500 ms each, until stopped: polls in and between changes.
    local c
    for c in 1875000 3750000 7100000 10300000 14175000 18118000 21225000 24940000 28850000 52000000; do
        echo "$c 500"
    done > cycle.txt
    wine KorvSimHost.exe --script cycle.txt --repeat 0 > host.out & local host=$!
    wait_line host.out '^ready'
    wine KelvaneFast.exe & local sw=$!
    local start; start=$(now_ns)
    local mark
    for mark in 100 1000 5000 10000 "$TICKS"; do
        [ "$mark" -le "$TICKS" ] || continue
        while [ "$(out_count ports.log)" -lt "$mark" ]; do
            kill -0 "$sw" 2>/dev/null || { echo "bench: the fast switcher ended early" >&2; return 1; }
            sleep 0.2
        done
        probe "after" "$(out_count ports.log)" "$sw" "$host"
        [ "$mark" != "$TICKS" ] || break
    done > memory.txt
    local end; end=$(now_ns)
    echo "elapsed_ms $(( (end - start) / 1000000 ))" >> memory.txt
    close_window "$sw" "$TITLE"
    kill "$host" 2>/dev/null || true
    wait "$host" 2>/dev/null || true
}

# ---- 4: start-up ------------------------------------------------------------

phase_startup() {
    local dir=$WORK/startup
    cd "$dir"
    # Once each, unmeasured: the first start of a program pays for loading it.
    local prog title i t0 t1 pid
    for prog in Kelvane.exe bench_idle.exe; do
        title=$TITLE; [ $prog = Kelvane.exe ] || title=$IDLE_TITLE
        wine $prog & pid=$!
        wait_window "$title" 6000 >/dev/null || true
        close_window $pid "$title"
    done
    : > startup.txt
    for ((i = 0; i < RUNS; i++)); do
        for prog in Kelvane.exe bench_idle.exe; do
            title=$TITLE; [ $prog = Kelvane.exe ] || title=$IDLE_TITLE
            t0=$(now_ns)
            wine $prog & pid=$!
            if wait_window "$title" 6000 >/dev/null; then
                t1=$(now_ns)
                echo "$prog $(( (t1 - t0) / 1000000 ))" >> startup.txt
            fi
            close_window $pid "$title"
        done
    done
}

inner() {
    phase_latency_cpu
    phase_memory
    phase_startup
}

if [ -n "${INNER:-}" ]; then inner; exit 0; fi

# ---- the cost of one write per backend: the journal, and the USB backends on
# the fixture ftd2xx.dll / hid.dll / setupapi.dll (tests/win32/fixtures) ----------

driver_writes() {
    local fixtures=$BUILD/tests/win32/port/fixtures backend dir
    cmake --build "$BUILD" -j2 --target KorvPortDll driver_write_bench port_fixtures
    for backend in journal ftdi hidrelay; do
        dir=$WORK/writes-$backend
        rm -rf "$dir"; mkdir -p "$dir"
        cp "$BUILD/KorvPortDll.dll" "$BUILD/bench/driver_write_bench.exe" "$dir/"
        case $backend in
            journal) printf 'backend=journal\n' > "$dir/KorvPortDll.cfg" ;;
            ftdi) printf 'backend=ftdi\n' > "$dir/KorvPortDll.cfg"
                  cp "$fixtures/fake_ftd2xx.dll" "$dir/ftd2xx.dll" ;;
            hidrelay) printf 'backend=hidrelay\n' > "$dir/KorvPortDll.cfg"
                      cp "$fixtures/fake_hid.dll" "$dir/hid.dll"
                      cp "$fixtures/fake_setupapi.dll" "$dir/setupapi.dll"
                      printf '16C0 05DF USBRelay8 BENCH' > "$dir/hiddev-0.dev" ;;
        esac
    done
    # The fixture system libraries replace Wine's only for this program.
    xvfb-run -a "$ROOT/scripts/lib/wine-session.sh" bash -c '
        wine reg add "HKCU\\Software\\Wine\\AppDefaults\\driver_write_bench.exe\\DllOverrides" /v hid /d native /f >/dev/null 2>&1
        wine reg add "HKCU\\Software\\Wine\\AppDefaults\\driver_write_bench.exe\\DllOverrides" /v setupapi /d native /f >/dev/null 2>&1
        for b in journal ftdi hidrelay; do
            (cd "$1/writes-$b" && printf "%-9s %s\n" "$b" "$(wine driver_write_bench.exe "$2" | tr -d "\r")")
        done' _ "$WORK" "$DRIVER_WRITES"
}
if [ -n "${DRIVER_WRITES:-}" ]; then
    "$ROOT/scripts/setup.sh" >/dev/null
    cmake --preset win32 -B "$BUILD" -DKELVANE_WIN32_BENCH=ON >/dev/null
    driver_writes
    exit 0
fi

# ---- outside the Wine session: build, lay out, run, report --------------------

"$ROOT/scripts/setup.sh"
cmake --preset win32 -B "$BUILD" -DKELVANE_WIN32_BENCH=ON >/dev/null
cmake --build "$BUILD" -j2 --target Kelvane KorvPortDll korv_sim_host KelvaneFast bench_idle bench_probe
rm -rf "$WORK"
for d in latency memory startup; do
    mkdir -p "$WORK/$d"
    install_journal_station "$BUILD" "$WORK/$d" qpc=on
    cp "$BUILD"/bench/KelvaneFast.exe "$BUILD"/bench/bench_idle.exe "$BUILD"/bench/bench_probe.exe "$WORK/$d/"
    write_demo_station "$WORK/$d/Kelvaneer12.ini"
done
say "measuring (about $(( CHANGES / 2 + TICKS / 95 + RUNS * 4 + 30 )) s)"
xvfb-run -a -s '-screen 0 1024x768x24' "$ROOT/scripts/lib/wine-session.sh" \
    "$0" --inner --changes "$CHANGES" --ticks "$TICKS" --runs "$RUNS" --seed "$SEED"
mkdir -p "$(dirname "$OUT")"
report "$WORK" "$CHANGES" "$TICKS" "$(wine --version)" | tee "$OUT"
echo
echo "written to $OUT"
