#!/usr/bin/env bash
# Builds the benchmarks (Release) and runs them. Not part of the test command.
# The figures go into the performance table of README.md (between the
# "bench:begin" and "bench:end" markers), each beside the libxml2 floor where
# there is one, with the machine they were taken on.
#
#   scripts/bench.sh                 # run all, rewrite the table
#   scripts/bench.sh --no-readme     # run all, leave README.md alone
#   scripts/bench.sh --benchmark_filter=Start   # other arguments go to every benchmark
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
readme=1
args=()
for a in "$@"; do
  if [ "$a" = "--no-readme" ]; then readme=0; else args+=("$a"); fi
done
# A filtered run has no complete table to write.
[ ${#args[@]} -gt 0 ] && readme=0

"$root/scripts/deps.sh"
# With the window's libraries: the view is measured in the real browser.
TIDEWELL_BUILD_DIR="$root/build-bench" "$root/scripts/build.sh" -DTIDEWELL_GUI=ON -DTIDEWELL_TESTS=OFF \
  -DTIDEWELL_BENCH=ON -DTIDEWELL_SANITIZE=OFF -DTIDEWELL_FUZZ=OFF -DCMAKE_BUILD_TYPE=Release
export QT_QPA_PLATFORM=offscreen QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:---disable-gpu}"
[ "$(id -u)" -eq 0 ] && export QTWEBENGINE_DISABLE_SANDBOX=1
results="$root/build-bench/results"
rm -rf "$results"
mkdir -p "$results"
# Other work on the machine slows every figure; the table says how busy it was.
load_before=$(cut -d' ' -f1 /proc/loadavg)
for b in "$root"/build-bench/bench/tw_bench_*; do
  [ -f "$b" ] && [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b" --benchmark_out="$results/$(basename "$b").json" --benchmark_out_format=json ${args[@]+"${args[@]}"}
done
[ $readme -eq 1 ] || exit 0
load_after=$(cut -d' ' -f1 /proc/loadavg)

python3 - "$results" "$root/README.md" "$load_before" "$load_after" <<'PY'
import glob, json, os, re, sys, datetime

results, readme, load_before, load_after = sys.argv[1:5]
bench, context = {}, {}
for f in sorted(glob.glob(os.path.join(results, "*.json"))):
    data = json.load(open(f))
    context = data["context"]
    for b in data["benchmarks"]:
        if "error_occurred" in b and b["error_occurred"]:
            sys.exit("benchmark %s failed: %s" % (b["name"], b.get("error_message", "")))
        # "BM_DrawView/1000/iterations:3/manual_time" -> "BM_DrawView/1000"
        name = "/".join(p for p in b["name"].split("/") if not p.startswith("iterations:") and p != "manual_time")
        bench[name] = b

def ms(name):
    b = bench[name]
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b["time_unit"]]
    return b["real_time"] * scale

def fmt(v):
    return "%.0f ms" % v if v >= 10 else "%.1f ms" % v if v >= 1 else "%.2f ms" % v

cpu = "unknown CPU"
try:
    for line in open("/proc/cpuinfo"):
        if line.startswith("model name"):
            cpu = line.split(":", 1)[1].strip()
            break
except OSError:
    pass
machine = "%s, %d cores, load %s to %s, Release build, %s" % (
    re.sub(r"\s+", " ", cpu), context.get("num_cpus", 0), load_before, load_after, datetime.date.today().isoformat())

start_mb = bench["BM_StartUp"].get("MB", 0)
save_mb = bench["BM_SaveTransactions"].get("MB", 0)
rows = [
    ("Start-up: the ten documents of a large seller (50,000 orders, %.0f MB in all), settings brought up to date, "
     "the first view's indexes and counts" % start_mb,
     "BM_StartUp", "BM_StartUpFloorLibxml2", "parsing the same ten files"),
    ("Saving Transactions.xml (50,000 orders, %.0f MB): checked to read back, written, flushed, renamed" % save_mb,
     "BM_SaveTransactions", "BM_SaveFloorLibxml2", "writing it, without check or flush"),
    ("Merging 5,000 downloaded orders (2,500 of them stored already) into 50,000, without the save",
     "BM_Merge5000Into50000", None, None),
    ("Shipment status, first pass over 50,000 orders (33,333 shipped, half of them delivered), without the save",
     "BM_UpdateShipmentStatus50000", None, None),
    ("Shipment status, a pass with nothing to change", "BM_UpdateShipmentStatusNoChange50000", None, None),
    ("Finding 5,000 orders by key among 50,000, building the index included", "BM_Lookup5000Indexed", None, None),
    ("Finding one order by an XPath query among 50,000 (no index)", "BM_LookupOneByQuery", None, None),
    ("Drawing a view of 1,000 orders (six history entries each) in the browser, first rows to layout done",
     "BM_DrawView/1000", "BM_DrawFloor/1000", "the same rows' HTML put in the table in one call, layout forced"),
    ("Drawing a view of 10,000 orders", "BM_DrawView/10000", "BM_DrawFloor/10000",
     "the same rows' HTML in one call, layout forced"),
    ("The rows' HTML alone, 1,000 orders", "BM_RowHtml1000", None, None),
]
lines = ["| what | Tidewell | libxml2 floor | machine |", "|---|---|---|---|"]
for what, ours, floor, floor_what in rows:
    if ours not in bench:
        continue
    floor_cell = "—"
    if floor and floor in bench:
        floor_cell = "%s (%s; Tidewell ×%.1f)" % (fmt(ms(floor)), floor_what, ms(ours) / ms(floor))
    lines.append("| %s | %s | %s | %s |" % (what, fmt(ms(ours)), floor_cell, machine))
for count in ("1000", "10000"):
    name = "BM_DrawView/" + count
    if name in bench and "first_rows_ms" in bench[name]:
        lines.append("| First rows on screen (a frame painted) after a drawing of %s orders starts | %s | — | %s |"
                     % ("{:,}".format(int(count)), fmt(bench[name]["first_rows_ms"]), machine))
# The real program on a large seller's folder (a third each not shipped, in
# transit and delivered).
for count in ("10000", "50000"):
    name = "BM_LaunchToFirstRows/" + count
    if name not in bench:
        continue
    b, n = bench[name], "{:,}".format(int(count))
    lines.append("| Launch of the program to the first screenful of the shown view, %s orders (%.0f MB of store files) "
                 "| %s | %s (parsing the same files; Tidewell ×%.1f) | %s |"
                 % (n, b["store_MB"], fmt(ms(name)), fmt(b["floor_ms"]), ms(name) / b["floor_ms"], machine))
    lines.append("| Tab click to the first screenful, %s orders (about %s to a view): a tab's first click, a later "
                 "click | %s, %s | — | %s |"
                 % (n, "{:,}".format(int(count) // 3), fmt(b["tab_first_click_ms"]), fmt(b["tab_later_click_ms"]),
                    machine))
    lines.append("| Peak resident memory of the program, %s orders, every row of a view drawn | %.0f MB | — (store "
                 "files %.0f MB; ×%.1f) | %s |" % (n, b["peak_MB"], b["store_MB"], b["peak_MB"] / b["store_MB"],
                                                  machine))
for count in ("10000", "50000"):
    name = "BM_DrawSteps/" + count
    if name not in bench:
        continue
    b = bench[name]
    steps = ", ".join("%s %s" % (label, fmt(b[key])) for label, key in (
        ("status pass", "status_first_ms"), ("again, nothing to change", "status_again_ms"), ("view's order", "sort_ms"),
        ("counts", "counts_ms"), ("rows' lookups", "lookups_ms"), ("clearing the table", "clear_ms"),
        ("first screenful", "first_batch_ms")) if key in b)
    lines.append("| A tab click's steps, %s orders: %s | %s (the click to its first rows painted) | — | %s |"
                 % ("{:,}".format(int(count)), steps, fmt(b.get("click_first_rows_painted_ms", 0)), machine))
table = "\n".join(lines)

text = open(readme).read()
begin, end = "<!-- bench:begin -->", "<!-- bench:end -->"
if begin not in text or end not in text:
    sys.exit("README.md has no bench markers")
head, rest = text.split(begin, 1)
_, tail = rest.split(end, 1)
open(readme, "w").write(head + begin + "\n" + table + "\n" + end + tail)
print("README.md: performance table updated")
PY
