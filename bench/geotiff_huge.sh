#!/usr/bin/env bash
# The largest GeoTIFF stitch asked of the program, kept out of CI: 400 x 400
# tiles (102,400 px a side, 160,000 tiles) made from a small set of planet
# tiles used over and over, snapped (the tiles' own bytes, overviews built
# by half-size decoding) and, with PLAIN=1, off the grid too (every tile
# decoded, composed and encoded). Prints wall time, CPU time and peak RSS of
# each whole process (/usr/bin/time -v) and what the file is: BigTIFF or
# not, its size, and its levels when gdalinfo is there.
#
#   bench/geotiff_huge.sh [build folder] [tiles across] [distinct tiles]
#                                        (default: build 400 256)
# Needs about twice the file's size (4 GB) free under /tmp: the
# tiles wait in temporary files beside the output.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
[[ $build = /* ]] || build=$root/$build
n=${2:-400}
distinct=${3:-256}

source "$root/bench/measure.sh"
need /usr/bin/time time

cmake --build "$build" --target bench_stitch -j2 >/dev/null
bench=$build/bench_stitch
work=$(mktemp -d /tmp/geotiff-huge.XXXXXX)
trap 'rm -rf "$work"' EXIT

side=$(awk -v d="$distinct" 'BEGIN { s = int(sqrt(d)); print (s * s < d) ? s + 1 : s }')
"$bench" tiles "$work/tiles" "$side" "$side" >/dev/null
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg); ${n}x$n tiles from $distinct, $((n * 256)) px a side"
printf '%-10s %10s %10s %10s %14s %8s\n' run wall_s cpu_s peak_MB bytes bigtiff
runs=(snapped:0)
[[ ${PLAIN:-0} = 1 ]] && runs+=(plain:100)
for run in "${runs[@]}"; do
    name=${run%%:*} shift=${run##*:}
    out=$work/$name.tif
    read -r w c r < <(measure "$bench" stitch "$work/tiles" "$n" "$n" "$out" 80 "$distinct" "$shift")
    # Byte 2 of a little-endian TIFF is 43 for BigTIFF, 42 for classic TIFF.
    version=$(od -An -tu1 -j2 -N1 "$out" | tr -d ' ')
    printf '%-10s %10s %10s %10s %14s %8s\n' "$name" "$w" "$c" "$r" "$(stat -c %s "$out")" \
        "$([[ $version = 43 ]] && echo yes || echo no)"
    if command -v gdalinfo >/dev/null; then
        gdalinfo "$out" | grep -E '^Size is|Overviews:|COMPRESSION=' | awk '!seen[$0]++' | sed 's/^/    /'
    fi
    rm -f "$out"
done
