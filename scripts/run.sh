#!/usr/bin/env bash
# Builds Tidewell and starts it. When the sandbox is built, Tidewell runs
# against it (signed in through OAuth with the demo refresh token, data in build/demo-data);
# otherwise against the configured services (TIDEWELL_CONFIG, if set).
# Without a display it runs under Xvfb and says so.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TIDEWELL_BUILD_DIR:-$root/build}
"$root/scripts/deps.sh"
TIDEWELL_BUILD_DIR="$build" "$root/scripts/build.sh" -DTIDEWELL_GUI=ON

[ "$(id -u)" -eq 0 ] && export QTWEBENGINE_DISABLE_SANDBOX=1
args=("$@")
sandbox=$(find "$build" -type f -name tidewell-sandbox -perm -u+x 2>/dev/null | head -n1 || true)
if [ -n "$sandbox" ]; then
  data="$build/demo-data"
  mkdir -p "$data"
  config="$build/tidewell-sandbox.ini"
  # Print Postage works in the demo: DAZzle and WorldShip are stood in for by
  # the simulators, WorldShip's watching its import folder.
  sims=()
  dazzle=$(find "$build" -type f -name dazzle-sim -perm -u+x 2>/dev/null | head -n1 || true)
  worldship=$(find "$build" -type f -name worldship-sim -perm -u+x 2>/dev/null | head -n1 || true)
  [ -n "$dazzle" ] && sims+=(--dazzle-exe "$dazzle")
  [ -n "$worldship" ] && sims+=(--worldship-folder "$build/demo-worldship")
  "$sandbox" --config-out "$config" --data-dir "$data" "${sims[@]}" &
  pids=("$!")
  trap 'kill "${pids[@]}" 2>/dev/null || true' EXIT
  if [ -n "$worldship" ]; then
    mkdir -p "$build/demo-worldship"
    "$worldship" "$build/demo-worldship" &
    pids+=("$!")
  fi
  for _ in $(seq 1 100); do [ -s "$config" ] && break; sleep 0.1; done
  [ -s "$config" ] || { echo "run.sh: the sandbox wrote no configuration" >&2; exit 1; }
  echo "Running against the sandbox (configuration $config, data $data)"
  args=(--config "$config" --data-dir "$data" "${args[@]}")
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: running under Xvfb (the window is not visible)."
  export QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:---disable-gpu}"
  xvfb-run -a -s "-screen 0 1280x900x24" "$build/app/tidewell" "${args[@]}"
else
  "$build/app/tidewell" "${args[@]}"
fi
