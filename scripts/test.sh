#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
# First the core alone, without Qt Widgets or WebEngine (proof that it is
# UI-free), then the whole program with its window and page tests, then the
# core again under AddressSanitizer and UndefinedBehaviorSanitizer (clang),
# with every fuzz target run for a few seconds.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
export QT_QPA_PLATFORM=offscreen
export QTWEBENGINE_DISABLE_SANDBOX=1
export QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu"
jobs=$(nproc)
log=$(mktemp)
trap 'rm -f "$log"' EXIT

status=0
echo "== format"
"$root/scripts/format.sh" --check || status=1

echo "== core without the user interface (TIDEWELL_GUI=OFF)"
TIDEWELL_BUILD_DIR="$root/build-core" "$root/scripts/build.sh" -DTIDEWELL_GUI=OFF
(cd "$root/build-core" && ctest --output-on-failure -j "$jobs" --timeout 600) | tee -a "$log" || status=1

echo "== whole program"
TIDEWELL_BUILD_DIR="$root/build" "$root/scripts/build.sh" -DTIDEWELL_GUI=ON
# The core tests ran above; here the tests that need the window or WebEngine.
(cd "$root/build" && ctest --output-on-failure -j "$jobs" --timeout 600 -L gui) | tee -a "$log" || status=1

echo "== core under AddressSanitizer + UndefinedBehaviorSanitizer, and the fuzz targets"
if [ ! -f "$root/build-asan/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$root/build-asan" -G Ninja -DTIDEWELL_GUI=OFF -DTIDEWELL_SANITIZE=ON \
    -DTIDEWELL_FUZZ=ON >/dev/null
fi
cmake --build "$root/build-asan" -j "$jobs"
(cd "$root/build-asan" && ctest --output-on-failure -j "$jobs" --timeout 600) | tee -a "$log" || status=1
"$root/scripts/fuzz.sh" --build-dir "$root/build-asan" --seconds 5 || status=1

# One closing line for all runs.
read -r passed failed < <(awk '/tests passed, [0-9]+ tests? failed out of/ {
    for (i = 1; i <= NF; i++) { if ($i == "failed") f += $(i - 2); if ($i == "of") t += $(i + 1) } }
    END { print t - f, f + 0 }' "$log")
echo
echo "tests: $passed passed, $failed failed"
exit $status
