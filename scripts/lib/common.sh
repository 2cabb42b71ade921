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
