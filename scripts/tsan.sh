#!/usr/bin/env bash
# Builds the programs and tests where threads meet (the record's and the MAC number sources'
# worker threads, the event dispatcher's wake-ups) with ThreadSanitizer and runs those tests.
# Any report fails the run. Qt's libraries are not built for it: tests/tsan.supp names what it
# cannot see through there; our own hand-offs between threads are marked (link/ThreadHandOff.h).
set -euo pipefail
cd "$(dirname "$0")/.."
tests=(link_tst_epolleventdispatcher cli_tst_productionrecord cli_tst_tolvexrecord pool_tst_macpool)
BUILD_TYPE=Debug cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTOLVEX_TSAN=ON >/dev/null
cmake --build build-tsan -j"$(nproc)" --target tolvex tolvex-sim MPFS.EXE tolvex-pool-driver "${tests[@]}"
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
export QT_QPA_PLATFORM=offscreen
# QProcess forks from a process with threads; its child only execs.
export TSAN_OPTIONS="halt_on_error=0 die_after_fork=0 suppressions=$PWD/tests/tsan.supp log_path=$logs/tsan"
failed=0
for test in "${tests[@]}"; do
    echo "== $test under ThreadSanitizer"
    if ! (cd build-tsan && "bin/$test" >"$logs/$test.out" 2>&1); then
        tail -n 30 "$logs/$test.out"
        failed=1
    fi
    grep -E '^Totals' "$logs/$test.out" || true
done
# The tool runs as its own process in these tests; its reports land here too.
if compgen -G "$logs/tsan.*" >/dev/null; then
    cat "$logs"/tsan.*
    echo "ThreadSanitizer reports: $(cat "$logs"/tsan.* | grep -c '^WARNING: ThreadSanitizer')"
    failed=1
fi
exit $failed
