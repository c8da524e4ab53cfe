#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the normal build, the same tests under
# AddressSanitizer and UndefinedBehaviorSanitizer, then a short run of every fuzz target.
# TOLVEX_QUICK=1 runs the normal build only.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh

export QT_QPA_PLATFORM=offscreen

echo "== build and test"
./scripts/build.sh build
(cd build && ctest --output-on-failure -j2)

if [ "${TOLVEX_QUICK:-0}" = 1 ]; then
    exit 0
fi

echo "== build and test under AddressSanitizer and UndefinedBehaviorSanitizer"
BUILD_TYPE=Debug ./scripts/build.sh build-asan -DTOLVEX_SANITIZE=ON
# Qt's own libraries are not instrumented; leaks inside them are not ours to report.
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build-asan && ctest --output-on-failure -j2)

echo "== fuzz targets"
./scripts/fuzz.sh "${TOLVEX_FUZZ_SECONDS:-20}"
