#!/usr/bin/env bash
# Fails on an include that goes up the layer order, and on the viewer or the codec reaching past the
# engine's public header. The build already keeps a target from including a folder it does not link;
# this keeps the links themselves pointing down.
#   bottom to top: bytes, win32, mfc, image, d3d9, d3dx9, gdiplus, backends (platform/), engine, codec, viewer
# Usage: scripts/check_layers.sh [repository root]
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root"

grep -rnE --include='*.h' --include='*.cpp' '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' \
    platform engine codec viewer |
awk '
BEGIN {
    n = split("platform/bytes platform/win32 platform/mfc platform/image platform/d3d9 platform/d3dx9 " \
              "platform/gdiplus platform/backends engine codec viewer", order, " ")
    for (i = 1; i <= n; ++i) rank[order[i]] = i
    bad = 0
}
function layer(path,    parts) {
    split(path, parts, "/")
    return parts[1] == "platform" ? parts[1] "/" parts[2] : parts[1]
}
{
    split($0, f, ":")
    file = f[1]; line = f[2]
    match($0, /"[^"]+"/)
    target = substr($0, RSTART + 1, RLENGTH - 2)
    if (target ~ /\.\./) {
        printf "%s:%s: \"%s\" leaves its folder by a relative path\n", file, line, target; bad = 1; next
    }
    if (target !~ /\//) next  # beside the including file
    from = layer(file); to = layer(target)
    if (!(to in rank)) {
        printf "%s:%s: \"%s\" is in no layer\n", file, line, target; bad = 1; next
    }
    if (rank[to] > rank[from]) {
        printf "%s:%s: \"%s\" goes up from %s to %s\n", file, line, target, from, to; bad = 1; next
    }
    if ((from == "viewer" || from == "codec") && to == "engine" && target != "engine/engine_api.h") {
        printf "%s:%s: \"%s\": the %s reaches the engine through engine/engine_api.h\n", file, line, target, from
        bad = 1
    }
}
END { exit bad }
'
