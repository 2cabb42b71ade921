# Shared by the entry-point scripts: paths and the Wine environment.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
export WINEPREFIX=${KELVANE_WINEPREFIX:-$ROOT/build/wineprefix}
export WINEARCH=win32
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko: nothing here needs them, and their installers would ask.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

say() { printf '\n== %s\n' "$*"; }

# Wine runs the i686 programs only where the kernel runs 32-bit code: some
# kernels are built or booted without it (ia32_emulation=off).
runs_i386() { /usr/lib/wine/wineserver32 --version >/dev/null 2>&1; }
NO_I386="this machine's kernel runs no 32-bit programs (ia32 emulation is off), so Wine cannot run the i686 builds here"

# The one option of the demos that take no other: --period MS sets PERIOD (1500 by default).
period_option() {
    local name=$1
    shift
    PERIOD=1500
    case "${1:-}" in
        --period) PERIOD=$2 ;;
        "") ;;
        *) echo "usage: scripts/$name.sh [--period MS]" >&2; exit 2 ;;
    esac
}
