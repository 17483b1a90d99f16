#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
# First the core alone, without Qt Widgets or WebEngine (proof that it is
# UI-free), then the whole program with its window and page tests.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
export QT_QPA_PLATFORM=offscreen
export QTWEBENGINE_DISABLE_SANDBOX=1
export QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu"
jobs=$(nproc)

echo "== core without the user interface (TIDEWELL_GUI=OFF)"
TIDEWELL_BUILD_DIR="$root/build-core" "$root/scripts/build.sh" -DTIDEWELL_GUI=OFF
(cd "$root/build-core" && ctest --output-on-failure -j "$jobs" --timeout 600)

echo "== whole program"
TIDEWELL_BUILD_DIR="$root/build" "$root/scripts/build.sh" -DTIDEWELL_GUI=ON
# The core tests ran above; here the tests that need the window or WebEngine.
(cd "$root/build" && ctest --output-on-failure -j "$jobs" --timeout 600 -L gui)
