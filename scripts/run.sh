#!/usr/bin/env bash
# Installs what is missing, builds, and starts the window with COM1 connected to a freshly
# started simulated unit, so everything can be tried without hardware. Arguments go to the
# program (for example --web-pages).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target tolvex-config tolvex-sim MPFS.EXE

# The demo folder plays the program's folder: links to the program and the image builder, the
# port map, sample web pages and their list. The program takes its folder from the path it
# was started by, so it finds these files here.
demo=$PWD/build/demo
mkdir -p "$demo/pages" "$demo/received"
ln -sf ../bin/tolvex-config "$demo/tolvex-config"
ln -sf ../bin/MPFS.EXE "$demo/MPFS.EXE"
echo "COM1=$demo/unit" >"$demo/ComPorts.txt"
if [ ! -e "$demo/pages/index.htm" ]; then
    printf '<html><body><h1>TOLVEX</h1><p>Inputs: <a href="inputs.cgi">show</a></p></body></html>\n' \
        >"$demo/pages/index.htm"
    printf '<html><body>~inputs~</body></html>\n' >"$demo/pages/inputs.cgi"
    printf '%s\r\n' "$demo/pages/index.htm" "$demo/pages/inputs.cgi" >"$demo/DefaultFileList.txt"
fi

# The unit answers at the pace of a 19200-baud line and unpacks downloaded pages into received/.
build/bin/tolvex-sim --link "$demo/unit" --wire-delay --unpack-to "$demo/received" \
    >"$demo/unit.log" 2>&1 </dev/null &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT INT TERM HUP
for _ in $(seq 50); do [ -e "$demo/unit" ] && break; sleep 0.1; done

echo "Simulated unit on $(readlink "$demo/unit") (COM1); its log: $demo/unit.log"
"$demo/tolvex-config" "$@"
