#!/usr/bin/env bash
# make test-package: builds the packages, then installs and inspects them
# (tests/packaging/package_test.py, run by CTest). Wine prefixes of its own
# under build/package-tests/prefixes, booted afresh on every run. Ends with
# "summary: N passed, N failed" like `make test`.
set -u
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
source scripts/wine-env.sh

build="build/package-tests"
if ! bash scripts/package.sh; then
    echo "presets that did not build: packages"
    echo "summary: 0 passed, 1 failed"
    exit 1
fi

# Stop the wineservers of a previous run before their prefixes go.
for prefix in "$build"/prefixes/*/; do
    [ -f "$prefix/system.reg" ] && WINEPREFIX="${prefix%/}" wineserver -k 2>/dev/null
done
rm -rf "$build/prefixes" "$build/logs" "$build/ctest-junit.xml"
cmake -S tests/packaging -B "$build" >/dev/null

tarnwick_start_xvfb
ctest --test-dir "$build" -j "${TARNWICK_PACKAGE_TEST_JOBS:-2}" --output-on-failure \
    --output-junit "$PWD/$build/ctest-junit.xml"
for prefix in "$build"/prefixes/*/; do
    [ -f "$prefix/system.reg" ] && WINEPREFIX="${prefix%/}" wineserver -k 2>/dev/null
done
tarnwick_stop_xvfb

python3 scripts/summarize-tests.py "$build"
status=$?
# The prefixes take about 700 MB each: kept only to look into a failure.
if [ $status -eq 0 ]; then
    rm -rf "$build/prefixes"
fi
exit $status
