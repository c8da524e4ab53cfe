#!/usr/bin/env bash
# Compiles every source of the programs once more with the Windows branches on, with Debian's
# MinGW-w64 compiler against the installed Qt headers: what Q_OS_WIN guards is never built here
# otherwise. Syntax and types only; nothing is linked. Usage: check-windows-syntax.sh [BUILD_DIR]
# (the build folder holds the generated headers). Exits 77 when the compiler is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
compiler=x86_64-w64-mingw32-g++-posix
if ! command -v "$compiler" >/dev/null; then
    echo "$compiler not found (scripts/install-deps.sh installs it)" >&2
    exit 77
fi
qt=$(qmake6 -query QT_INSTALL_HEADERS 2>/dev/null || echo /usr/include/x86_64-linux-gnu/qt6)
generated="$build/generated"
[ -f "$generated/TolvexVersion.h" ] || { echo "no $generated/TolvexVersion.h: build first" >&2; exit 1; }
flags=(-std=c++17 -fsyntax-only -DUNICODE -D_UNICODE -Wall -Wextra -Werror=return-type
       -I. -I"$generated" -I"$qt" -I"$qt/QtCore" -I"$qt/QtGui" -I"$qt/QtWidgets"
       -I"$qt/QtSerialPort" -I"$qt/QtSql")
# Sources that include their own moc output find it in the libraries' generated folders.
while IFS= read -r folder; do
    flags+=(-I"$folder")
done < <(find "$build" -maxdepth 3 -type d -path '*_autogen/include' -not -path "$build/tests/*")
# The simulated unit is a pseudo-terminal program, POSIX only, and is not built for Windows.
mapfile -t sources < <(find settings link exchanges pool webpages widgets app tools -name '*.cpp' \
    -not -path 'tools/tolvex-sim/*' | sort)
log=$(mktemp)
trap 'rm -f "$log"' EXIT
failed=0
printf '%s\n' "${sources[@]}" |
    xargs -P "$(nproc)" -I{} sh -c "$compiler ${flags[*]} {} >/dev/null 2>>'$log' || echo {} >>'$log.failed'" || true
if [ -s "$log.failed" ]; then
    cat "$log"
    echo "Windows branches that do not compile:" >&2
    cat "$log.failed" >&2
    failed=1
fi
rm -f "$log.failed"
echo "${#sources[@]} sources compiled for Windows$([ $failed -eq 0 ] && echo ", all clean")"
exit $failed
