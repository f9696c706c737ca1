#!/usr/bin/env bash
# Formats every C++ source and header that git tracks with the repository's .clang-format.
# Usage: scripts/format.sh [repository root]
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
source "$root/scripts/clang_format.sh"
cd "$root"
git ls-files -z '*.h' '*.cpp' | xargs -0 -r -n 50 -P "$(nproc)" "$clang_format" -i
