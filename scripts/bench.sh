#!/usr/bin/env bash
# Builds an optimised tree and prints the benchmark figures.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
BUILD_TYPE=Release ./scripts/build.sh build-release
for bench in build-release/bin/bench_*; do
    echo "== $(basename "$bench")"
    "$bench"
done
