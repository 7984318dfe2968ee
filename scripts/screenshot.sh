#!/usr/bin/env bash
# Takes a picture of the editor as a user sees it: the program runs under Wine
# in a virtual desktop on its own virtual X display, with a few lines of text
# typed in, and the window is written to build/screenshot.png.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/wine-env.sh

output="${1:-$PWD/build/screenshot.png}"
exe="$PWD/build/windows/src/tarnwick.exe"
driver="$PWD/build/windows/tests/screenshot_driver.exe"
for file in "$exe" "$driver"; do
    if [ ! -f "$file" ]; then
        echo "missing $file: build the windows preset first" >&2
        exit 1
    fi
done

work="$(mktemp -d)"
cleanup() {
    wineserver -k 2>/dev/null || true
    tarnwick_stop_xvfb
    rm -rf "$work"
}
# A display of our own, whatever DISPLAY the caller has.
unset DISPLAY
tarnwick_start_xvfb
trap cleanup EXIT
tarnwick_wine_init

# The virtual desktop hosts the driver, which starts the editor inside it and
# writes the window's rectangle once the text is in.
geometry_file="$work/geometry.txt"
wine explorer /desktop=TarnwickShot,1024x768 "$driver" "Z:$exe" "Z:$geometry_file" >/dev/null 2>&1 &
for _ in $(seq 1 600); do
    [ -s "$geometry_file" ] && break
    sleep 0.1
done
geometry="$(tr -d '\r\n' <"$geometry_file" 2>/dev/null || true)"
if ! [[ "$geometry" =~ ^[0-9]+x[0-9]+\+-?[0-9]+\+-?[0-9]+$ ]]; then
    echo "the editor did not come up" >&2
    exit 1
fi
# Wine copies window contents to the X display on its own schedule.
sleep 1
mkdir -p "$(dirname "$output")"
import -display "$DISPLAY" -window root -crop "$geometry" +repage "$output"
wine "$driver" close >/dev/null 2>&1 || true
echo "$output ($geometry)"
