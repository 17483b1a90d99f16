#!/usr/bin/env bash
# Takes docs/main-window.png: Tidewell against the sandbox, offscreen, after
# one "Download Orders", with the drawn view. Needs a build (scripts/build.sh).
# Every step waits for the program's own automation line, never a set time.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TIDEWELL_BUILD_DIR:-$root/build}
work=$(mktemp -d)
trap 'exec 3>&- 2>/dev/null || true; kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT

# Waits (at most a minute) until the file $1 holds a line matching $2.
wait_for() {
  for _ in $(seq 1 600); do
    grep -qE "$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "screenshot.sh: no line matching '$2' in $1" >&2
  cat "$1" >&2 || true
  exit 1
}

"$build/sandbox/cli/tidewell-sandbox" --config-out "$work/sandbox.ini" --data-dir "$work/data" >/dev/null &
wait_for "$work/sandbox.ini" '^\['

export TIDEWELL_AUTOMATION=1 QT_QPA_PLATFORM=offscreen QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu
[ "$(id -u)" -eq 0 ] && export QTWEBENGINE_DISABLE_SANDBOX=1
mkfifo "$work/commands"
"$build/app/tidewell" --config "$work/sandbox.ini" --data-dir "$work/data" <"$work/commands" 2>"$work/log" &
exec 3>"$work/commands"

wait_for "$work/log" '^page: .*/KORVA/main-1\.0\.47\.html'
echo "click cmdDownloadOrders" >&3
wait_for "$work/log" '^clicked: cmdDownloadOrders'
echo "grab $root/docs/main-window.png" >&3
wait_for "$work/log" '^grab: '
echo quit >&3
grep -E "^grab: $root" "$work/log" || { cat "$work/log" >&2; exit 1; }
