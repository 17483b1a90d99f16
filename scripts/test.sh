#!/usr/bin/env bash
# Installs what is missing, builds and runs every test.
# First the core, without Qt Widgets or WebEngine (proof that it is UI-free),
# built with clang under AddressSanitizer and UndefinedBehaviorSanitizer, with
# every fuzz target run for a few seconds; then the whole program (g++) with
# its window, page and end-to-end tests (ctest label `gui`).
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

echo "== core without the user interface (TIDEWELL_GUI=OFF), under AddressSanitizer + UndefinedBehaviorSanitizer"
if [ ! -f "$root/build-asan/CMakeCache.txt" ]; then
  # Unoptimised and linked by lld: the sanitizers find the same faults, and
  # the build takes half the time.
  CC=clang CXX=clang++ cmake -S "$root" -B "$root/build-asan" -G Ninja -DTIDEWELL_GUI=OFF -DTIDEWELL_SANITIZE=ON \
    -DTIDEWELL_FUZZ=ON -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-O0 -DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld \
    >/dev/null
fi
cmake --build "$root/build-asan" -j "$jobs"
(cd "$root/build-asan" && ctest --output-on-failure -j "$jobs" --timeout 600) | tee -a "$log" || status=1
"$root/scripts/fuzz.sh" --build-dir "$root/build-asan" --seconds 5 || status=1

echo "== whole program: window, page and end-to-end tests"
# The core tests ran above: here the program, the demo's sandbox and the
# window's tests are built, not the core tests a second time.
# Lightly optimised and without debug information, which is most of a
# build's time; configure build/ anew to debug in it.
cmake -S "$root" -B "$root/build" -G Ninja -DTIDEWELL_GUI=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g0 -DNDEBUG" >/dev/null
cmake --build "$root/build" -j "$jobs" --target tidewell tidewell-sandbox tw_test_app tw_test_e2e
(cd "$root/build" && ctest --output-on-failure -j "$jobs" --timeout 600 -L gui) | tee -a "$log" || status=1

# One closing line for all runs.
read -r passed failed < <(awk '/tests passed, [0-9]+ tests? failed out of/ {
    for (i = 1; i <= NF; i++) { if ($i == "failed") f += $(i - 2); if ($i == "of") t += $(i + 1) } }
    END { print t - f, f + 0 }' "$log")
echo
echo "tests: $passed passed, $failed failed"
exit $status
