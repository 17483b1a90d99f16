#!/usr/bin/env bash
# Formats every C++ file of the tree with the checked-in .clang-format.
# With --check nothing is changed: the files that would change are listed
# and the script fails (the test command runs it this way).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
mapfile -t files < <(git ls-files --cached --others --exclude-standard '*.cpp' '*.h' | sort -u)
if [ "${1:-}" = "--check" ]; then
  drift=()
  for f in "${files[@]}"; do
    clang-format --dry-run -Werror "$f" >/dev/null 2>&1 || drift+=("$f")
  done
  if [ ${#drift[@]} -gt 0 ]; then
    echo "format: ${#drift[@]} file(s) differ from .clang-format (run scripts/format.sh):"
    printf '  %s\n' "${drift[@]}"
    exit 1
  fi
  echo "format: ${#files[@]} files match .clang-format"
else
  clang-format -i "${files[@]}"
fi
