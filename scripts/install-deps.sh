#!/usr/bin/env bash
# Installs what building, running and testing need on Debian 12; does nothing when all is there.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-serialport-dev libgl-dev libxkbcommon-dev
    # the MAC pool: the Qt SQL drivers, and the PostgreSQL 15 server the tests start
    libqt6sql6-sqlite libqt6sql6-psql postgresql
    # tests: an XMODEM peer nobody here wrote, a display for screenshots, sanitizers and fuzzing
    lrzsz xvfb xauth clang libclang-rt-14-dev
    # tests: the report's HTML page opened in a real browser engine (headless screenshots)
    chromium
    # tests: the Windows branches compiled (not linked) against the Qt headers
    g++-mingw-w64-x86-64-posix
    # the Debian package: its dependency scan, hardening flags and validators
    dpkg-dev desktop-file-utils appstream lintian
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
