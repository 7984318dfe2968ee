#!/usr/bin/env bash
# Runs every libFuzzer target (or the ones named) for FUZZ_SECONDS each
# (default 60) and prints executions per second and corpus sizes.
#   scripts/fuzz.sh [TARGET...]      fuzz
#   scripts/fuzz.sh --seeds          rewrite fuzz/corpus from the real writer
# Each target starts from its committed seeds (fuzz/corpus/TARGET) and kept
# findings (fuzz/regressions/TARGET) and grows a working corpus under
# build/linux-fuzz/corpus/TARGET that later runs continue from. A finding is
# left in build/linux-fuzz/findings/TARGET and makes the script fail; copy it
# into fuzz/regressions/TARGET once fixed, so `make test` replays it.
set -u
cd "$(dirname "${BASH_SOURCE[0]}")/.."

jobs="${TARNWICK_JOBS:-2}"

if [ "${1:-}" = "--seeds" ]; then
    cmake --preset linux >/dev/null && cmake --build --preset linux -j "$jobs" --target fuzz_make_seeds || exit 1
    rm -rf fuzz/corpus
    build/linux/tests/fuzz_make_seeds fuzz/corpus || exit 1
    for dir in fuzz/corpus/*/; do
        printf '%-22s %4d seeds\n' "$(basename "$dir")" "$(find "$dir" -type f | wc -l)"
    done
    exit 0
fi

seconds="${FUZZ_SECONDS:-60}"
cmake --preset linux-fuzz >/dev/null && cmake --build --preset linux-fuzz -j "$jobs" || exit 1

# shellcheck disable=SC1091
source fuzz/targets.sh
if [ $# -gt 0 ]; then
    targets=("$@")
else
    targets=("${FUZZ_TARGETS[@]}")
fi

build=build/linux-fuzz
failed=0
report=()
for target in "${targets[@]}"; do
    binary="$build/fuzz/fuzz_$target"
    if [ ! -x "$binary" ]; then
        echo "unknown fuzz target: $target" >&2
        failed=1
        continue
    fi
    work="$build/corpus/$target"
    findings="$build/findings/$target"
    mkdir -p "$work" "$findings"
    seeds=(fuzz/corpus/"$target")
    [ -d "fuzz/regressions/$target" ] && seeds+=("fuzz/regressions/$target")
    options=(-max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$findings/"
             -max_len="$(fuzz_max_len "$target")" -timeout=10 -rss_limit_mb=2048)
    dict="$(fuzz_dictionary "$target")"
    [ -n "$dict" ] && options+=(-dict="$dict")
    extra="$(fuzz_extra_options "$target")"
    [ -n "$extra" ] && options+=("$extra")
    log="$build/fuzz-$target.log"
    echo "=== $target: ${seconds}s"
    "$binary" "${options[@]}" "$work" "${seeds[@]}" >"$log" 2>&1
    status=$?
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    size=$(find "$work" -type f | wc -l)
    bytes=$(du -sk "$work" | cut -f1)
    verdict="ok"
    if [ $status -ne 0 ]; then
        verdict="FINDING (exit $status, see $log and $findings)"
        failed=1
        grep -m5 -E 'ERROR|property broken|runtime error' "$log" >&2
    fi
    report+=("$(printf '%-22s %9s exec/s %11s runs %6s inputs %6s KiB  %s' "$target" "${rate:-?}" "${runs:-?}" "$size" "$bytes" "$verdict")")
done

echo
echo "target                    rate            runs          corpus         size"
printf '%s\n' "${report[@]}"
exit $failed
