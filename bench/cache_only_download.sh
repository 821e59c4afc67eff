#!/usr/bin/env bash
# A cache-only download of a large square region at zoom 19 with no tile in
# the cache (every tile a miss), whole process: tiles per second and peak
# RSS of this build's vistrel-cli, and of another build's for comparison.
#
#   bench/cache_only_download.sh [BASELINE-vistrel-cli]
#
# TILES (default 5000000) sets this build's region; BASELINE_TILES (default
# TILES) the other's: an older build that holds the whole tile list may need
# a smaller region to fit in memory and time. BUILD (default build) is this
# build's folder; CLI names this build's vistrel-cli directly.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
source "$here/measure.sh"
baseline=${1:-}
tiles=${TILES:-5000000}
baseline_tiles=${BASELINE_TILES:-$tiles}
cli=${CLI:-$root/${BUILD:-build}/vistrel-cli}
[ -x "$cli" ] || { echo "no $cli: build the vistrel-cli target first" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Corners of a square of about n tiles at zoom 19 north-west of the tile
# holding 55.75 N 37.6 E, put at tile centres so no edge is in doubt.
corners() {
    python3 - "$1" <<'PY'
import math, sys
n, z = int(sys.argv[1]), 19
side = max(1, round(math.sqrt(n)))
world = 2 ** z
col0 = int((37.6 + 180) / 360 * world)
row0 = int((1 - math.asinh(math.tan(math.radians(55.75))) / math.pi) / 2 * world)
def lon(c): return c / world * 360 - 180
def lat(r): return math.degrees(math.atan(math.sinh(math.pi * (1 - 2 * r / world))))
print(f"{lat(row0 + 0.5):.7f},{lon(col0 + 0.5):.7f} "
      f"{lat(row0 + side - 0.5):.7f},{lon(col0 + side - 0.5):.7f} {side * side}")
PY
}

run() {
    local binary=$1 count=$2 label=$3
    local from to made
    read -r from to made <<<"$(corners "$count")"
    local folder=$work/$label
    mkdir -p "$folder"
    read -r wall cpu rss <<<"$(measure "$binary" download --zoom 19 --from "$from" --to "$to" \
        --mode cache --folder "$folder")"
    awk -v l="$label" -v n="$made" -v w="$wall" -v c="$cpu" -v r="$rss" 'BEGIN {
        printf "%-9s %9d tiles  %8.1f s  %8.0f tiles/s  cpu %7.1f s  peak RSS %7.1f MB\n",
               l, n, w, n / w, c, r }'
}

run "$cli" "$tiles" this
[ -n "$baseline" ] && run "$baseline" "$baseline_tiles" baseline
exit 0
