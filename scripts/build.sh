#!/usr/bin/env bash
# Configures and builds into the given folder (default: build) with any extra CMake options.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
# Warnings fail the build in CI, so none slips in unseen.
werror=OFF
[ "${CI:-}" = true ] && werror=ON
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} -DTOLVEX_WERROR=$werror "$@" >/dev/null
cmake --build "$dir" -j"$(nproc)"
