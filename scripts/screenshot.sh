#!/usr/bin/env bash
# Takes docs/main-window.png: Tidewell against the sandbox, offscreen, after
# one "Download Orders". Needs a build (scripts/build.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TIDEWELL_BUILD_DIR:-$root/build}
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT

"$build/sandbox/cli/tidewell-sandbox" --config-out "$work/sandbox.ini" --data-dir "$work/data" >/dev/null &
for _ in $(seq 1 100); do [ -s "$work/sandbox.ini" ] && break; sleep 0.1; done

export TIDEWELL_AUTOMATION=1 QT_QPA_PLATFORM=offscreen QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu
[ "$(id -u)" -eq 0 ] && export QTWEBENGINE_DISABLE_SANDBOX=1
{
  sleep 4
  echo "click cmdDownloadOrders"
  sleep 8
  echo "grab $root/docs/main-window.png"
  sleep 1
  echo quit
} | "$build/app/tidewell" --config "$work/sandbox.ini" --data-dir "$work/data" 2>"$work/log" || true
grep -E "^grab:" "$work/log" || { cat "$work/log" >&2; exit 1; }
