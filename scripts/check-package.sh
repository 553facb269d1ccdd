#!/usr/bin/env bash
# Builds the Debian package from a build folder and checks it as a fresh
# Debian 12 machine would take it: its metadata and dependencies resolve,
# it holds the tool, library, header, CMake package, pkg-config file and
# manual page, and the tool runs from the unpacked package.
# Usage: check-package.sh BUILD_DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: check-package.sh BUILD_DIR}" && pwd)
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls -t "$build"/typerecovery_*.deb | head -n 1)
echo "package: $(basename "$deb")"
dpkg-deb -f "$deb" Package Version Architecture Depends
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in ./usr/bin/typerecovery ./usr/include/typerecovery.h ./usr/lib/libtyperecovery.so.0 \
         ./usr/lib/pkgconfig/typerecovery.pc ./usr/lib/cmake/TypeRecovery/TypeRecoveryConfig.cmake \
         ./usr/share/man/man1/typerecovery.1; do
  grep -qxF "$f" <<<"$contents" || grep -qxF "$f.gz" <<<"$contents" \
    || { echo "missing from the package: $f"; exit 1; }
done
# Every dependency the package names can be satisfied on this machine.
apt-get install --simulate -q "$deb" >/dev/null \
  || { echo "the package's dependencies do not resolve"; exit 1; }
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg -x "$deb" "$unpacked"
"$unpacked/usr/bin/typerecovery" --version
found=$("$unpacked/usr/bin/typerecovery" scan "$root/samples/sample.img" --quiet | wc -l)
[ "$found" -gt 0 ] || { echo "the packaged tool found nothing in the sample"; exit 1; }
echo "package ok: the unpacked tool found $found files in the sample"
