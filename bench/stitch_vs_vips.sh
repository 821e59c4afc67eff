#!/usr/bin/env bash
# Stitches 16x16, 40x40 and 64x64 planet tiles (about 18 KB each) into one
# JPEG at quality 80 with the program's band-by-band stitch and with
# `vips arrayjoin`, in the same run, and prints wall time and peak RSS of
# each whole process (/usr/bin/time -v).
#
#   bench/stitch_vs_vips.sh [build folder]      (default: build)
#   HUGE=1 bench/stitch_vs_vips.sh ...          also 254 x 254 tiles (65,024 px a
#                                               side) from 1,024 distinct tiles
# Needs libvips-tools (installed here if missing; not a dependency of the
# program) and writes its files under a temporary folder it removes.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
[[ $build = /* ]] || build=$root/$build

source "$root/bench/measure.sh"
need vips libvips-tools
need /usr/bin/time time

cmake --build "$build" --target bench_stitch -j2 >/dev/null
bench=$build/bench_stitch
work=$(mktemp -d /tmp/stitch-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

row() { printf '%-10s %-12s %10s %10s %10s %10s\n' "$@"; }
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
row tiles pixels tool wall_s cpu_s peak_MB
for n in 16 40 64; do
    tiles=$work/tiles$n
    "$bench" tiles "$tiles" $n $n >/dev/null
    px=$((n * 256))
    sync
    read -r w c r < <(measure "$bench" stitch "$tiles" $n $n "$work/ours$n.jpg" 80)
    row "${n}x$n" "${px}x$px" vistrel "$w" "$c" "$r"
    # Names relative to the tiles' folder: one argument may not exceed 128 KB.
    files=$(cd "$tiles" && ls | sort | tr '\n' ' ')
    read -r w c r < <(measure env -C "$tiles" vips arrayjoin "$files" "$work/vips$n.jpg[Q=80]" --across $n)
    row "${n}x$n" "${px}x$px" vips "$w" "$c" "$r"
    ls -l "$work/ours$n.jpg" "$work/vips$n.jpg" | awk '{ printf "           %s %d bytes\n", $NF, $5 }'
    rm -f "$work/ours$n.jpg" "$work/vips$n.jpg"
done

if [[ ${HUGE:-0} = 1 ]]; then
    tiles=$work/tiles-huge
    "$bench" tiles "$tiles" 32 32 >/dev/null
    read -r w c r < <(measure "$bench" stitch "$tiles" 254 254 "$work/huge.jpg" 80 1024)
    row 254x254 65024x65024 vistrel "$w" "$c" "$r"
    ls -l "$work/huge.jpg" | awk '{ printf "           %s %d bytes\n", $NF, $5 }'
fi
