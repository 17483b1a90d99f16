#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz/ (clang, ASan + UBSan) and runs
# each for a number of seconds or runs. Long by default; the test command
# runs every target for a few seconds.
#
#   scripts/fuzz.sh                      # every target, 600 s each
#   scripts/fuzz.sh --seconds 30 ebay_merge
#   scripts/fuzz.sh --runs 100000
#   scripts/fuzz.sh --build-dir DIR      # use (and build) this build folder
#
# New inputs go to <build>/fuzz-corpus/<target>/, crashes to
# <build>/fuzz-crashes/ (the script fails then and names them). The seeds in
# tests/fuzz/<target>/ are read, never written: copy a crash input there
# once it is fixed, so ctest replays it from then on.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-fuzz"
seconds=600
runs=""
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds="$2"; runs=""; shift 2 ;;
    --runs) runs="$2"; shift 2 ;;
    --build-dir) build="$2"; shift 2 ;;
    -h|--help) sed -n '2,15p' "$0"; exit 0 ;;
    *) targets+=("$1"); shift ;;
  esac
done

"$root/scripts/deps.sh"
if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DTIDEWELL_GUI=OFF -DTIDEWELL_TESTS=OFF \
    -DTIDEWELL_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j "$(nproc)" --target tw_fuzz_all

if [ ${#targets[@]} -eq 0 ]; then
  for exe in "$build"/tests/fuzz/tw_fuzz_*; do
    [ -f "$exe" ] && [ -x "$exe" ] && targets+=("$(basename "$exe" | sed 's/^tw_fuzz_//')")
  done
fi

# Store files of the merge targets are written on every input: keep them in memory.
[ -d /dev/shm ] && [ -w /dev/shm ] && export TMPDIR=/dev/shm
crashes="$build/fuzz-crashes"
mkdir -p "$crashes"
for t in "${targets[@]}"; do
  [ -x "$build/tests/fuzz/tw_fuzz_$t" ] || { echo "fuzz: no target $t" >&2; exit 2; }
  [ -d "$root/tests/fuzz/$t" ] || { echo "fuzz: no seeds in $root/tests/fuzz/$t" >&2; exit 2; }
done

# One target: its report on stdout, its status as the exit status.
fuzz_one() {
  local t=$1 exe="$build/tests/fuzz/tw_fuzz_$1" seeds="$root/tests/fuzz/$1" corpus="$build/fuzz-corpus/$1"
  mkdir -p "$corpus"
  local args=(-artifact_prefix="$crashes/$t-" -timeout=10 -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1)
  [ -f "$root/tests/fuzz/$t.dict" ] && args+=(-dict="$root/tests/fuzz/$t.dict")
  if [ -n "$runs" ]; then args+=(-runs="$runs"); else args+=(-max_total_time="$seconds"); fi
  local log="$build/fuzz-$t.log"
  if "$exe" "${args[@]}" "$corpus" "$seeds" >"$log" 2>&1; then
    echo "fuzz: $t: $(awk '/stat::number_of_executed_units/ {print $2}' "$log") runs, no crash"
  else
    echo "fuzz: $t: FAILED, see $log"
    grep -E "^==[0-9]+==|SUMMARY|check failed|Test unit written" "$log" | head -20 || true
    return 1
  fi
}

# As many targets at a time as there are cores: each still runs its full time.
status=0
running=()
for t in "${targets[@]}"; do
  fuzz_one "$t" >"$build/fuzz-$t.report" &
  running+=("$!:$t")
  if [ ${#running[@]} -ge "$(nproc)" ]; then
    entry=${running[0]}
    running=("${running[@]:1}")
    wait "${entry%%:*}" || status=1
    cat "$build/fuzz-${entry#*:}.report"
  fi
done
for entry in "${running[@]}"; do
  wait "${entry%%:*}" || status=1
  cat "$build/fuzz-${entry#*:}.report"
done
exit $status
