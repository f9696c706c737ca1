#!/usr/bin/env bash
# Fails when a C++ source or header that git tracks differs from what .clang-format makes of it, and
# names each such file; scripts/format.sh mends them.
# Usage: scripts/check_format.sh [repository root]
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
source "$root/scripts/clang_format.sh"
cd "$root"
# One clang-format process per hundred files: starting it costs more than checking a file.
# xargs fails when any file differs; the file names in the report are what counts.
report=$(git ls-files -z '*.h' '*.cpp' |
  xargs -0 -r -n 100 -P "$(nproc)" "$clang_format" --dry-run -Werror 2>&1 || true)
unformatted=$(sed -n 's/^\(.*\):[0-9]*:[0-9]*: error: .*$/\1/p' <<<"$report" | sort -u)
if [ -n "$unformatted" ]; then
  echo "not formatted (run scripts/format.sh):"
  echo "$unformatted"
  exit 1
fi
