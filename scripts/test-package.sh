#!/usr/bin/env bash
# Installs the package scripts/package.sh built, tries the installed programs, and removes the
# package again (also when a check fails). Runs as root or through sudo.
set -euo pipefail
cd "$(dirname "$0")/.."

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
shopt -s nullglob
debs=(build-pkg/tolvex_*.deb)
[ ${#debs[@]} -eq 1 ] || { echo "expected one build-pkg/tolvex_*.deb; run scripts/package.sh"; exit 1; }
deb=${debs[0]}

private=/usr/libexec/tolvex
work=$(mktemp -d)
pids=()
finish() {
    local status=$?
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
    if dpkg-query -W -f='${Status}' tolvex 2>/dev/null | grep -q "install ok installed"; then
        echo "-- removing the package"
        DEBIAN_FRONTEND=noninteractive $SUDO apt-get remove -y -qq tolvex >/dev/null
    fi
    [ "$status" -eq 0 ] && echo "package test passed" || echo "package test FAILED"
    exit "$status"
}
trap finish EXIT

fail() {
    echo "FAILED: $*"
    exit 1
}

echo "-- installing $deb"
# --reinstall so a package of the same version left installed is replaced by this build.
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --reinstall "./$deb" >/dev/null

echo "-- installed files"
[ "$(command -v tolvex-config)" = /usr/bin/tolvex-config ] || fail "tolvex-config is not on PATH"
for tool in MPFS.EXE tolvex-sim; do
    [ -x "$private/$tool" ] || fail "$private/$tool missing"
    ! command -v "$tool" >/dev/null || fail "$tool is on PATH"
done

echo "-- the window from the menu entry, offscreen, for two seconds"
desktop=/usr/share/applications/org.tolvex.TolvexConfig.desktop
exec_line=$(sed -n 's/^Exec=//p' "$desktop")
[ -n "$exec_line" ] || fail "no Exec line in $desktop"
(cd "$work" && exec env QT_QPA_PLATFORM=offscreen $exec_line >"$work/window.log" 2>&1) &
window=$!
pids+=("$window")
sleep 2
kill -0 "$window" 2>/dev/null || { cat "$work/window.log"; fail "the window ended within two seconds"; }
kill "$window"
wait "$window" 2>/dev/null || true
echo "window was running after 2 s"

echo "-- the simulated unit from the private folder"
mkdir -p "$work/received"
"$private/tolvex-sim" --link "$work/unit" --unpack-to "$work/received" \
    </dev/null >"$work/sim.log" 2>&1 &
pids+=("$!")
for _ in $(seq 50); do [ -e "$work/unit" ] && break; sleep 0.1; done
[ -e "$work/unit" ] || { cat "$work/sim.log"; fail "the simulated unit made no link"; }
echo "unit on $(readlink "$work/unit")"

echo "-- an image from two pages with the installed builder"
mkdir -p "$work/pages"
printf '<html><body><h1>TOLVEX</h1></body></html>\n' >"$work/pages/index.htm"
printf '<html><body>~inputs~</body></html>\n' >"$work/pages/inputs.cgi"
"$private/MPFS.EXE" "$work/pages" "$work/WebPages.bin"
listing=$("$private/MPFS.EXE" --list "$work/WebPages.bin")
echo "$listing"
for page in index.htm inputs.cgi; do
    grep -q "$page" <<<"$listing" || fail "$page is not in the image"
done

[ "$(command -v tolvex)" = /usr/bin/tolvex ] || fail "tolvex is not on PATH"
echo "-- the command-line tool"
{
    tolvex --version
    tolvex ports
    tolvex read --port "$work/unit" >"$work/read.txt"
    grep -qi '^ni10\.0\.0\.5' "$work/read.txt" || { cat "$work/read.txt"; fail "read gave no ni line"; }
    echo "read: $(grep -c . "$work/read.txt") lines"
    # The builder comes from the private folder and the work files stay out of /usr/bin.
    (cd "$work" && tolvex download --port "$work/unit" "$work/pages/index.htm" \
        "$work/pages/inputs.cgi")
    for page in index.htm inputs.cgi; do
        cmp -s "$work/pages/$page" "$work/received/$page" || fail "$page did not arrive whole"
    done
    [ ! -e /usr/bin/TempWebPges ] && [ ! -e /usr/bin/WebPages.bin ] ||
        fail "work files were left in /usr/bin"
    echo "download: both pages arrived"
}

echo "-- removing the package"
DEBIAN_FRONTEND=noninteractive $SUDO apt-get remove -y -qq tolvex >/dev/null
[ ! -e /usr/bin/tolvex-config ] && [ ! -e "$private" ] || fail "files left after removal"
echo "removed"
