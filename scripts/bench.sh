#!/usr/bin/env bash
# Builds the benchmarks (Release) and runs them. Not part of the test command.
# Arguments go to every benchmark binary (e.g. --benchmark_filter=Store).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
TIDEWELL_BUILD_DIR="$root/build-bench" "$root/scripts/build.sh" -DTIDEWELL_GUI=OFF -DTIDEWELL_TESTS=OFF \
  -DTIDEWELL_BENCH=ON -DCMAKE_BUILD_TYPE=Release
for b in "$root"/build-bench/bench/tw_bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b" "$@"
done
