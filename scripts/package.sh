#!/usr/bin/env bash
# Builds the Debian package: the program in a Release build of its own
# (build-package/, or $TIDEWELL_BUILD_DIR when that names a build folder),
# installed by CPack into tidewell_<version>_<arch>.deb in that folder.
# The package's path is the last line of the output.
# scripts/check-package.sh checks it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TIDEWELL_BUILD_DIR:-$root/build-package}
"$root/scripts/deps.sh"
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DTIDEWELL_GUI=ON -DTIDEWELL_TESTS=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
else
  cmake "$build" >/dev/null
fi
cmake --build "$build" -j "$(nproc)" --target tidewell
rm -f "$build"/tidewell_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/tidewell_*.deb
