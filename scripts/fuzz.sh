#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for the given number of seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
CC=clang CXX=clang++ BUILD_TYPE=Debug ./scripts/build.sh build-fuzz -DTOLVEX_FUZZ=ON -DTOLVEX_WERROR=OFF
export ASAN_OPTIONS=detect_leaks=0
mkdir -p build-fuzz/artifacts
for target in build-fuzz/bin/fuzz_*; do
    name=$(basename "$target")
    corpus=build-fuzz/corpus/$name
    log=build-fuzz/$name.log
    mkdir -p "$corpus"
    echo "-- $name for ${seconds}s"
    if ! "$target" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
        -artifact_prefix=build-fuzz/artifacts/ "$corpus" >"$log" 2>&1; then
        tail -n 60 "$log"
        echo "$name found a failing input (see build-fuzz/artifacts/)"
        exit 1
    fi
    grep -E "^stat::(number_of_executed_units|peak_rss_mb)" "$log" || true
done
echo "fuzz targets ran clean"
