#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the normal build, the Debian package
# built, validated, installed, tried and removed, the same tests under AddressSanitizer and
# UndefinedBehaviorSanitizer, the tests where threads meet under ThreadSanitizer, then a short
# run of every fuzz target.
# TOLVEX_QUICK=1 runs the normal build only.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh

export QT_QPA_PLATFORM=offscreen

passed=0
failed=0
# Runs CTest in a build folder and adds its counts to the totals printed at the end.
run_ctest() {
    local log
    log=$(mktemp)
    local status=0
    (cd "$1" && ctest --output-on-failure -j2) 2>&1 | tee "$log" || status=1
    local summary
    summary=$(grep -E "tests passed, [0-9]+ tests failed out of [0-9]+" "$log" | tail -n 1)
    rm -f "$log"
    if [ -z "$summary" ]; then
        echo "no test summary from $1"
        exit 1
    fi
    local total bad
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$summary")
    bad=$(sed -E 's/.* ([0-9]+) tests failed.*/\1/' <<<"$summary")
    passed=$((passed + total - bad))
    failed=$((failed + bad))
    if [ "$status" -ne 0 ] || [ "$bad" -ne 0 ]; then
        echo "tests: $passed passed, $failed failed"
        exit 1
    fi
}

echo "== build and test"
./scripts/build.sh build
run_ctest build

if [ "${TOLVEX_QUICK:-0}" = 1 ]; then
    echo "tests: $passed passed, $failed failed"
    exit 0
fi

echo "== package: build, validate, install, try, remove"
package_start=$SECONDS
./scripts/package.sh
./scripts/test-package.sh
echo "package step took $((SECONDS - package_start)) s"

echo "== build and test under AddressSanitizer and UndefinedBehaviorSanitizer"
BUILD_TYPE=Debug ./scripts/build.sh build-asan -DTOLVEX_SANITIZE=ON
# Qt's own libraries are not instrumented; leaks inside them are not ours to report.
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
run_ctest build-asan

echo "== the tests where threads meet, under ThreadSanitizer"
if ./scripts/tsan.sh; then
    passed=$((passed + 4))
else
    failed=$((failed + 1))
    echo "tests: $passed passed, $failed failed"
    exit 1
fi

echo "== fuzz targets"
./scripts/fuzz.sh "${TOLVEX_FUZZ_SECONDS:-20}"

echo "tests: $passed passed, $failed failed"
