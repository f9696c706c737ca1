#!/usr/bin/env bash
# Builds the benchmarks optimised and without sanitizers, then runs the ones named (all by default).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
build="$root/build/bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DFEROLT_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"
for b in "$build"/bench/bench_*; do
  if [ $# -eq 0 ] || printf '%s\n' "$@" | grep -qx "$(basename "$b")"; then
    "$b"
  fi
done
