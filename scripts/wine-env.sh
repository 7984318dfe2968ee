# Sourced by the scripts that run Windows programs: a Wine prefix of the
# project's own under build/, quiet Wine, and a virtual X display when there is
# none. Defines tarnwick_wine_init and tarnwick_start_xvfb.
tarnwick_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$tarnwick_root/build/wine-prefix}"
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installer prompts, no desktop menu entries.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

tarnwick_start_xvfb() {
    if [ -n "${DISPLAY:-}" ]; then
        return 0
    fi
    local n
    for n in $(seq 90 190); do
        if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
            Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
            TARNWICK_XVFB_PID=$!
            export DISPLAY=":$n"
            local tries=0
            while [ ! -e "/tmp/.X11-unix/X$n" ] && [ $tries -lt 100 ]; do
                sleep 0.1
                tries=$((tries + 1))
            done
            return 0
        fi
    done
    echo "no free X display number for Xvfb" >&2
    return 1
}

tarnwick_stop_xvfb() {
    if [ -n "${TARNWICK_XVFB_PID:-}" ]; then
        kill "$TARNWICK_XVFB_PID" 2>/dev/null || true
        wait "$TARNWICK_XVFB_PID" 2>/dev/null || true
        unset TARNWICK_XVFB_PID
    fi
}

tarnwick_wine_init() {
    mkdir -p "$(dirname "$WINEPREFIX")"
    (
        flock 9
        if [ ! -f "$WINEPREFIX/system.reg" ]; then
            wineboot -i >/dev/null 2>&1 || true
            wineserver -w
        fi
        # Wine's own fonts (Tahoma for dialogs, Marlett for the caption
        # buttons and check marks) are not found in this Wine's data folder;
        # the prefix's Fonts folder is always read.
        local font
        for font in /usr/share/wine/fonts/*.ttf; do
            if [ -f "$font" ] && [ ! -e "$WINEPREFIX/drive_c/windows/Fonts/$(basename "$font")" ]; then
                ln -s "$font" "$WINEPREFIX/drive_c/windows/Fonts/$(basename "$font")"
            fi
        done
        # Windows that Wine does not hand to a window manager: on a display
        # without one, hiding or destroying a managed window waits two seconds
        # for a state change that never comes.
        if ! grep -q '"Managed"="N"' "$WINEPREFIX/user.reg" 2>/dev/null; then
            wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
            wineserver -w
        fi
    ) 9>"$(dirname "$WINEPREFIX")/.wine-prefix.lock"
}
