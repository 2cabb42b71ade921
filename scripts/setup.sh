#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian machine. Idempotent.
#   scripts/setup.sh [--linux]    (--linux: only what the Linux edition needs)
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"

# The Linux edition: rigctld for its tests and demo, the output libraries,
# sd_notify, and dpkg-shlibdeps for the .deb's dependencies; pugixml for the
# RadioInfo and flrig sources, flrig, Xvfb and Python for their tests; the web
# console's HTTP server (libmicrohttpd), JSON and password libraries, and a
# browser to check its page (cpp-httplib and libssl: the tests' HTTP client);
# mosquitto for the station bus and its tests (openssl makes their TLS broker's certificates).
linux_packages=(cmake g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev libhamlib-utils libftdi1-dev libhidapi-dev
                libgpiod-dev libsystemd-dev dpkg-dev procps libpugixml-dev libcpp-httplib-dev flrig xvfb xauth python3
                libmosquitto-dev mosquitto mosquitto-clients openssl
                nlohmann-json3-dev libsodium-dev libmicrohttpd-dev libssl-dev chromium chromium-driver python3-selenium)
packages=("${linux_packages[@]}" clang clang-format libclang-rt-14-dev
          g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine32:i386 xvfb xauth xdotool
          imagemagick libxml2-utils locales)
LINUX_ONLY=
[ "${1:-}" = --linux ] && { LINUX_ONLY=1; packages=("${linux_packages[@]}"); }

SUDO=
[ "$(id -u)" -eq 0 ] || SUDO=sudo

if [ -z "$LINUX_ONLY" ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    say "adding the i386 architecture for wine32"
    $SUDO dpkg --add-architecture i386
    need_update=1
fi
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    say "installing: ${missing[*]}"
    $SUDO apt-get update -q
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
elif [ -n "${need_update:-}" ]; then
    $SUDO apt-get update -q
fi

[ -z "$LINUX_ONLY" ] || exit 0

# The conversion tests run in a comma-decimal locale.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
    say "generating the de_DE.UTF-8 locale"
    $SUDO localedef -i de_DE -f UTF-8 de_DE.UTF-8
fi

# A fresh prefix takes 10-15 s and its first program can miss RPC services: warm it once.
if ! runs_i386; then
    say "no Wine prefix: $NO_I386"
elif [ ! -f "$WINEPREFIX/.kelvane-ready" ]; then
    say "creating the Wine prefix $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
    touch "$WINEPREFIX/.kelvane-ready"
fi
