#!/usr/bin/env bash
# Runs a command in one Wine session on the current display: one wineserver for
# the whole run (a server per process costs seconds each). The first Wine
# program starts Wine's background services; started with our pipes they would
# hold them open and make ctest wait for them, so they are started here first.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
wineserver -p
trap 'wineserver -k 2>/dev/null || true' EXIT
wine cmd /c exit </dev/null >/dev/null 2>&1 || true
"$@"
