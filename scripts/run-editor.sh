#!/usr/bin/env bash
# Starts the editor under Wine; on a machine without a display, on a virtual one.
set -u
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
if [ -z "${DISPLAY:-}" ]; then
    echo "No DISPLAY: starting the editor on a virtual X display (Xvfb)."
    tarnwick_start_xvfb
fi
tarnwick_wine_init
exe="$tarnwick_root/build/windows/src/tarnwick.exe"
wine "$exe" "$@"
status=$?
tarnwick_stop_xvfb
exit $status
