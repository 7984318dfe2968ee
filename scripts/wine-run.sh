#!/usr/bin/env bash
# Runs a Windows executable under Wine: the CTest emulator of the windows preset.
set -u
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
started_xvfb=0
if [ -z "${DISPLAY:-}" ]; then
    tarnwick_start_xvfb
    started_xvfb=1
fi
tarnwick_wine_init
wine "$@"
status=$?
if [ $started_xvfb -eq 1 ]; then
    wineserver -w
    tarnwick_stop_xvfb
fi
exit $status
