#!/usr/bin/env bash
# Builds the native, sanitizer and Windows presets and runs every test: the
# native ones directly, the Windows ones under Wine on a virtual X display.
# Ends with one line: "summary: N passed, N failed".
set -u
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/wine-env.sh

jobs="${TARNWICK_JOBS:-$(nproc)}"
presets="${TARNWICK_TEST_PRESETS:-linux linux-asan windows}"
build_failures=""
reports=()

for preset in $presets; do
    rm -rf "build/$preset/test-results" "build/$preset/ctest-junit.xml"
    echo "=== $preset: configure and build"
    if ! cmake --preset "$preset" >/dev/null || ! cmake --build --preset "$preset" -j "$jobs"; then
        build_failures="$build_failures $preset"
        continue
    fi
    echo "=== $preset: tests"
    if [ "$preset" = windows ]; then
        tarnwick_start_xvfb
        tarnwick_wine_init
        # GUI tests share one display and one Wine prefix: one at a time.
        ctest --preset "$preset" -j 1 --output-junit "$PWD/build/$preset/ctest-junit.xml"
        wineserver -k 2>/dev/null || true
        tarnwick_stop_xvfb
    else
        ctest --preset "$preset" -j "$jobs" --output-junit "$PWD/build/$preset/ctest-junit.xml"
    fi
    reports+=("build/$preset")
done

python3 scripts/summarize-tests.py --build-failures "$build_failures" "${reports[@]}"
