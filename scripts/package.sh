#!/usr/bin/env bash
# Builds the Debian package: a Release build without tests in build-pkg/, configured for /usr with
# Debian's hardening flags, packed by CPack, then checked by desktop-file-validate, appstreamcli
# and lintian. Prints the package's name and size.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh

# The flags a Debian build of the package would use (stack protector, fortify, full RELRO, now).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
export CXXFLAGS LDFLAGS
BUILD_TYPE=Release ./scripts/build.sh build-pkg -DBUILD_TESTING=OFF -DCMAKE_INSTALL_PREFIX=/usr

rm -f build-pkg/tolvex_*.deb
(cd build-pkg && cpack -G DEB >cpack.log 2>&1) || { cat build-pkg/cpack.log; exit 1; }
deb=$(ls build-pkg/tolvex_*.deb)

# The desktop files are checked as the package holds them.
contents=$(mktemp -d)
trap 'rm -rf "$contents"' EXIT
dpkg-deb -x "$deb" "$contents"
desktop-file-validate "$contents"/usr/share/applications/*.desktop
appstreamcli validate --no-net "$contents"/usr/share/metainfo/*.metainfo.xml
# Warnings fail as errors do; informational tags are shown too.
lintian_status=0
lintian --fail-on error,warning --display-info "$deb" || lintian_status=$?
[ "$lintian_status" -eq 0 ] || { echo "lintian failed"; exit 1; }
echo "lintian passed"

echo "package: $deb"
echo "package size: $(stat -c %s "$deb") bytes, installed $(dpkg-deb -f "$deb" Installed-Size) KiB"
