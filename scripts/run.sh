#!/usr/bin/env bash
# Sets everything up, builds the viewer and opens the bundled example.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
build="$root/build/release"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DFEROLT_TESTS=OFF -DFEROLT_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"
if [ ! -x "$build/viewer/ferolt" ]; then
  echo "run: the viewer is not built yet" >&2
  exit 1
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run: no display found (DISPLAY and WAYLAND_DISPLAY are unset); the viewer needs a desktop session" >&2
  exit 1
fi
exec "$build/viewer/ferolt" "$root/examples/example.tolvex"
