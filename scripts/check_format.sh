#!/usr/bin/env bash
# Fails when a C++ source or header that git tracks differs from what .clang-format makes of it, and
# names each such file; scripts/format.sh mends them.
# Usage: scripts/check_format.sh [repository root]
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
source "$root/scripts/clang_format.sh"
cd "$root"
unformatted=$(git ls-files -z '*.h' '*.cpp' |
  xargs -0 -r -n 50 -P "$(nproc)" sh -c 'for f; do "$0" --dry-run -Werror "$f" >/dev/null 2>&1 || echo "$f"; done' \
    "$clang_format" | sort)
if [ -n "$unformatted" ]; then
  echo "not formatted (run scripts/format.sh):"
  echo "$unformatted"
  exit 1
fi
