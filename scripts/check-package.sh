#!/usr/bin/env bash
# Checks the Debian package without installing it (CI can run it anywhere,
# root or not; it works in a throwaway folder it removes at the end):
#   - the description is the summary and then prose, as apt shows it;
#   - the program, menu entry, icon and AppStream metainfo are where a desktop
#     finds them, and desktop-file-validate and appstreamcli accept them;
#   - every dependency is a package apt knows, in a version apt can install,
#     and together they hold every library the program links;
#   - the program from the package answers --version, without a display.
# With --install (a throwaway machine or container only) the package is then
# installed with `apt-get install ./tidewell_*.deb`, as a seller would, and the
# installed program and files are checked the same way.
#
#   scripts/check-package.sh [--install] [tidewell_<version>_<arch>.deb]
#
# Without a path it takes the package scripts/package.sh made.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
app_id=example.tidewell.Tidewell

install=0
deb=""
for arg in "$@"; do
  case "$arg" in
    --install) install=1 ;;
    -h|--help) sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) deb=$arg ;;
  esac
done
if [ -z "$deb" ]; then
  deb=$(ls -t "${TIDEWELL_BUILD_DIR:-$root/build-package}"/tidewell_*.deb 2>/dev/null | head -n1 || true)
fi
[ -n "$deb" ] && [ -f "$deb" ] || { echo "check-package: no package found (run scripts/package.sh)" >&2; exit 1; }
deb=$(cd "$(dirname "$deb")" && pwd)/$(basename "$deb")

failures=0
ok() { echo "  ok   $*"; }
bad() { echo "  FAIL $*"; failures=$((failures + 1)); }
need() { command -v "$1" >/dev/null || { echo "check-package: $1 is missing (scripts/deps.sh installs it)" >&2; exit 1; }; }
for tool in dpkg-deb desktop-file-validate appstreamcli objdump apt-cache; do need "$tool"; done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== $(basename "$deb")"
version=$(dpkg-deb -f "$deb" Version)
depends=$(dpkg-deb -f "$deb" Depends)
[ "$(dpkg-deb -f "$deb" Package)" = tidewell ] && ok "package tidewell $version" || bad "package name"
# The description reads as prose: the summary once, then the long text with
# no list separator (";") at the start of its lines.
description=$(dpkg-deb -f "$deb" Description)
summary=$(head -n1 <<<"$description")
long=$(tail -n +2 <<<"$description" | sed 's/^ //')
if [ -z "$long" ]; then bad "the description has no long text"
elif grep -q '^;' <<<"$long"; then bad "description lines start with ';': $(grep -m1 '^;' <<<"$long")"
elif [ "$(head -n1 <<<"$long")" = "$summary" ]; then bad "the description repeats its summary"
else ok "description: $summary"; fi
dpkg-deb -x "$deb" "$work/root"

# Files, and the desktop's own tools on them.
check_files() { # <prefix>: where usr/ lies ("" when installed)
  local p=$1
  local desktop="$p/usr/share/applications/$app_id.desktop"
  local metainfo="$p/usr/share/metainfo/$app_id.metainfo.xml"
  local icon="$p/usr/share/icons/hicolor/scalable/apps/$app_id.svg"
  [ -x "$p/usr/bin/tidewell" ] && ok "usr/bin/tidewell" || bad "usr/bin/tidewell missing"
  for f in "$desktop" "$metainfo" "$icon"; do
    [ -f "$f" ] && ok "${f#"$p"/}" || bad "${f#"$p"/} missing"
  done
  if out=$(desktop-file-validate "$desktop" 2>&1) && [ -z "$out" ]; then ok "desktop-file-validate"
  else bad "desktop-file-validate: $out"; fi
  if out=$(appstreamcli validate --no-net "$metainfo" 2>&1); then ok "appstreamcli validate"
  else bad "appstreamcli validate: $out"; fi
  grep -qx "Icon=$app_id" "$desktop" && ok "menu entry names the icon" || bad "Icon= is not $app_id"
  grep -qx "Exec=tidewell" "$desktop" && ok "menu entry starts tidewell" || bad "Exec= is not tidewell"
  grep -q "<release version=\"$version\"" "$metainfo" && ok "metainfo names release $version" ||
    bad "metainfo does not name release $version"
}
check_files "$work/root"

# Dependencies: packages apt knows, in versions it can install ...
echo "   Depends: $depends"
declare -A depended
IFS=',' read -ra clauses <<<"$depends"
for clause in "${clauses[@]}"; do
  satisfied=0
  IFS='|' read -ra alternatives <<<"$clause"
  for alt in "${alternatives[@]}"; do
    name=$(echo "$alt" | sed -E 's/^ *([^ (]+).*$/\1/')
    depended[$name]=1
    constraint=$(echo "$alt" | sed -nE 's/.*\(([<>=]+) *([^)]+)\).*/\1 \2/p')
    candidate=$(apt-cache policy "$name" 2>/dev/null | sed -nE 's/^ *Candidate: *//p')
    [ -n "$candidate" ] && [ "$candidate" != "(none)" ] || continue
    if [ -n "$constraint" ]; then
      op=${constraint%% *}
      want=${constraint#* }
      case "$op" in ">=") op=ge ;; "<=") op=le ;; "=") op=eq ;; ">>") op=gt ;; "<<") op=lt ;; esac
      dpkg --compare-versions "$candidate" "$op" "$want" || continue
    fi
    satisfied=1
  done
  [ $satisfied = 1 ] && ok "dependency ${clause# } (apt has it)" || bad "dependency ${clause# }: apt has no such package or version"
done
for name in libqt6webenginewidgets6 libqt6widgets6 libxml2 libxslt1.1; do
  [ -n "${depended[$name]:-}" ] && ok "depends on $name" || bad "does not depend on $name"
done

# ... that hold every library the program links.
# (Whole outputs are read: a reader that stops early would end the writer
# with SIGPIPE, which pipefail turns into a failure.)
cache=$(ldconfig -p)
for lib in $(objdump -p "$work/root/usr/bin/tidewell" | awk '/NEEDED/ {print $2}'); do
  path=$(awk -v l="$lib" '$1 == l && !found {print $NF; found = 1}' <<<"$cache")
  if [ -z "$path" ]; then bad "$lib: not on this machine, its package is unknown"; continue; fi
  owner=$( (dpkg -S "$(readlink -f "$path")" 2>/dev/null || dpkg -S "$path" 2>/dev/null || true) |
    awk -F: 'NR == 1 {print $1}')
  if [ -n "$owner" ] && [ -n "${depended[$owner]:-}" ]; then ok "$lib from $owner"
  else bad "$lib comes from ${owner:-no package}, which is not a dependency"; fi
done

# The packaged program runs without a display.
run_version() { # <binary> [library path]
  local out
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY LD_LIBRARY_PATH="${2:-}${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" \
    "$1" --version 2>&1) || true
  [ "$out" = "tidewell $version" ] && ok "$1 --version: $out" || bad "$1 --version said: $out"
}
libs=$(find "$work/root" -name '*.so*' -printf '%h\n' 2>/dev/null | sort -u | paste -sd: || true)
run_version "$work/root/usr/bin/tidewell" "$libs"

if [ $install = 1 ]; then
  echo "== apt-get install $(basename "$deb")"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo_cmd apt-get update -qq >/dev/null
  if $sudo_cmd apt-get install -y -qq "$deb" >"$work/apt.log" 2>&1; then ok "installed"
  else bad "apt-get install failed: $(tail -n 5 "$work/apt.log")"; fi
  check_files ""
  run_version "$(command -v tidewell || echo /usr/bin/tidewell)"
fi

if [ $failures -gt 0 ]; then
  echo "check-package: $failures check(s) failed"
  exit 1
fi
echo "check-package: all checks passed"
