#!/usr/bin/env bash
# Runs a command with Wine's screen at another DPI. Wine 8 reads LogPixels at
# each process start, the user's (set here) above the machine's (Hardware
# Profiles\Current\Software\Fonts); it is removed again however the command ends.
#
#   at_dpi.sh DPI COMMAND...     (inside the Wine session of the tests)
set -euo pipefail
dpi=$1
shift
key='HKCU\Control Panel\Desktop'
wine reg add "$key" /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null
trap 'wine reg delete "$key" /v LogPixels /f >/dev/null 2>&1 || true' EXIT
"$@"
