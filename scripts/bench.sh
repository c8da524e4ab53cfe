#!/usr/bin/env bash
# Builds an optimised tree and prints the benchmark figures: every benchmark, or the ones named
# (scripts/bench.sh bench_gang bench_soak).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
BUILD_TYPE=Release ./scripts/build.sh build-release
benches=("$@")
[ ${#benches[@]} -eq 0 ] && benches=($(cd build-release/bin && ls bench_*))
for bench in "${benches[@]}"; do
    echo "== $bench"
    "build-release/bin/$bench"
done
